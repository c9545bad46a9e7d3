// Counter module window against the emulated module.
#include "Citac619.h"
#include "OknoSModulem.h"
#include "Qxxx726.h"

#include <QTest>

#include <cstdlib>

namespace {

const std::vector<int> Procenta = {12, 25, 37, 50, 62, 75, 87, 100};
const QString TextImpulsMimo = " Impulsní číslo musí být v rozsahu 1-1000.";

class Citac619 : public OknoSModulem {
protected:
    std::unique_ptr<TForm5> Otevri() { return OknoSModulem::Otevri<TForm5>(); }
    void NastavCislo(int Citac, uint16_t Cislo) {
        NastavRegistr(static_cast<uint8_t>(2 * Citac), static_cast<uint8_t>(Cislo % 256));
        NastavRegistr(static_cast<uint8_t>(2 * Citac + 1), static_cast<uint8_t>(Cislo / 256));
    }
    uint32_t Cislo(int Citac) {
        return Registr(static_cast<uint8_t>(2 * Citac)) + 256 * Registr(static_cast<uint8_t>(2 * Citac + 1));
    }
    static QString Edit(int Citac) { return QString("Edit%1").arg(Citac + 1); }
};

TEST_F(Citac619, OpensWithTheRecordsPulseNumbersUnderItsHeading) {
    auto okno = Otevri();
    EXPECT_EQ(okno->objectName(), "Form5");
    EXPECT_EQ(okno->windowTitle(), "Nastavení čítačů KV-619");
    EXPECT_EQ(okno->size(), QSize(345, 255));
    auto* nadpis = Prvek<QLabel>(okno.get(), "Label5");
    ASSERT_NE(nadpis, nullptr);
    EXPECT_EQ(nadpis->text(), "Impulsní číslo");
    for (int n = 0; n < 4; ++n) {
        auto* popisek = Prvek<QLabel>(okno.get(), QString("Label%1").arg(n + 1));
        auto* edit = Prvek<QLineEdit>(okno.get(), Edit(n));
        ASSERT_TRUE(popisek && edit);
        EXPECT_EQ(popisek->text(), QString("Čítač %1").arg(n));
        EXPECT_EQ(edit->text(), "1");
        EXPECT_GT(edit->y(), nadpis->y());
        EXPECT_EQ(edit->x(), Prvek<QLineEdit>(okno.get(), "Edit1")->x());
        // The row name stands level with its edit.
        EXPECT_LT(std::abs(popisek->geometry().center().y() - edit->geometry().center().y()), edit->height() / 2);
    }
    EXPECT_EQ(TextStavu(okno.get()), " ");
}

TEST_F(Citac619, AnErrorTextWiderThanTheWindowShowsWholeBelowTheButtons) {
    auto okno = Otevri();
    ASSERT_EQ(Emu->command("fault timeout 102 0 1"), "ok");
    Klikni(okno.get(), "Button2");
    ASSERT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();

    auto* panel = Prvek<QLabel>(okno.get(), "StatusBar1_Panel0");
    ASSERT_NE(panel, nullptr);
    EXPECT_GT(panel->fontMetrics().horizontalAdvance(panel->text()), panel->contentsRect().width())
        << "longer than one line";
    EXPECT_TRUE(panel->wordWrap());
    EXPECT_LE(panel->heightForWidth(panel->width()), panel->height()) << panel->text().toStdString();

    auto* radek = Prvek<QWidget>(okno.get(), "StatusBar1");
    EXPECT_EQ(radek->geometry().bottom(), okno->height() - 1);
    for (const char* tlacitko : {"Button1", "Button2", "Button3", "Button4"})
        EXPECT_LT(Prvek<QPushButton>(okno.get(), tlacitko)->geometry().bottom(), radek->y()) << tlacitko;
}

TEST_F(Citac619, ReadShowsTheFourNumbersWithProgress) {
    const uint16_t cisla[4] = {1, 256, 999, 1000};
    for (int n = 0; n < 4; ++n) NastavCislo(n, cisla[n]);
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button2");

    EXPECT_EQ(zaznam.Texty, Prubeh(false, Procenta));
    for (int n = 0; n < 4; ++n) EXPECT_EQ(TextEditu(okno.get(), Edit(n)), QString::number(cisla[n]));
    std::vector<std::string> ocekavany;
    for (int r = 0; r < 8; ++r) ocekavany.push_back(RadekLogu(102, 0, 0, r, r, 0, 0));
    EXPECT_EQ(Log(), ocekavany);
}

TEST_F(Citac619, WriteVerifiesEachByteWithTheValueInTheReadBack) {
    auto okno = Otevri();
    Napis(okno.get(), "Edit1", "1000");
    Napis(okno.get(), "Edit2", "1");
    Napis(okno.get(), "Edit3", "300");
    Napis(okno.get(), "Edit4", "255");
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button1");

    EXPECT_EQ(zaznam.Texty, QStringList({" "}) + Prubeh(true, Procenta));
    EXPECT_EQ(Registr(0), 0xE8u);
    EXPECT_EQ(Registr(1), 0x03u);
    EXPECT_EQ(Cislo(1), 1u);
    EXPECT_EQ(Cislo(2), 300u);
    EXPECT_EQ(Cislo(3), 255u);
    const int bajty[8] = {0xE8, 0x03, 1, 0, 44, 1, 255, 0};
    std::vector<std::string> ocekavany;
    for (int r = 0; r < 8; ++r) {
        ocekavany.push_back(RadekLogu(103, 0, 0, r, r, bajty[r], bajty[r]));
        ocekavany.push_back(RadekLogu(102, 0, 0, r, r, bajty[r], bajty[r]));
    }
    EXPECT_EQ(Log(), ocekavany);
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[0], 1);
    EXPECT_EQ(Data.Adresa, 1);
    EXPECT_EQ(Data.Rychlost, 9600);

    Klikni(okno.get(), "Button3");
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[0], 1000);
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[2], 300);
}

TEST_F(Citac619, PulseNumbersOutsideOneToThousandAreRefused) {
    for (const QString dobra : {"1", "1000"}) {
        auto okno = Otevri();
        for (int n = 0; n < 4; ++n) Napis(okno.get(), Edit(n), dobra);
        Klikni(okno.get(), "Button1");
        EXPECT_EQ(TextStavu(okno.get()), " Konfigurace zapsána.");
        for (int n = 0; n < 4; ++n) EXPECT_EQ(Cislo(n), dobra.toUInt());
    }
    for (const QString spatna : {"0", "1001", "-5", "abc", "", "65536"}) {
        for (int n = 0; n < 4; ++n) {
            auto okno = Otevri();
            Napis(okno.get(), Edit(n), spatna);
            const uint32_t pred = Pozadavky();
            Klikni(okno.get(), "Button1");
            EXPECT_EQ(TextStavu(okno.get()), TextImpulsMimo) << spatna.toStdString() << " " << n;
            EXPECT_EQ(Pozadavky(), pred);
            Klikni(okno.get(), "Button3");
            EXPECT_FALSE(okno->isVisible());
            for (int m = 0; m < 4; ++m) EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[m], 1);
        }
    }
}

TEST_F(Citac619, ValuesAboveThousandFromTheModuleAreShownAndRefusedOnWrite) {
    NastavCislo(0, 4660);
    NastavCislo(1, 0);
    NastavCislo(2, 65535);
    NastavCislo(3, 1001);
    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "4660");
    EXPECT_EQ(TextEditu(okno.get(), "Edit2"), "0");
    EXPECT_EQ(TextEditu(okno.get(), "Edit3"), "65535");
    EXPECT_EQ(TextEditu(okno.get(), "Edit4"), "1001");

    const uint32_t pred = Pozadavky();
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), TextImpulsMimo);
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(Cislo(0), 4660u);

    // Corrected, it goes through.
    Napis(okno.get(), "Edit1", "10");
    Napis(okno.get(), "Edit2", "20");
    Napis(okno.get(), "Edit3", "30");
    Napis(okno.get(), "Edit4", "40");
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), " Konfigurace zapsána.");
    EXPECT_EQ(Cislo(3), 40u);

    auto druhe = Otevri();
    Klikni(druhe.get(), "Button2");
    Klikni(druhe.get(), "Button3");
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[0], 10);
}

TEST_F(Citac619, CancelAfterReadKeepsTheRecord) {
    NastavCislo(1, 321);
    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    EXPECT_EQ(TextEditu(okno.get(), "Edit2"), "321");
    Klikni(okno.get(), "Button4");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[1], 1);
}

TEST_F(Citac619, OkWithValuesFromTheModuleOutOfRangeStoresNothing) {
    NastavCislo(0, 4660);
    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    Klikni(okno.get(), "Button3");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[0], 1);
}

TEST_F(Citac619, ReadFailingOnCounterTwosHighByteKeepsItsLowByteAlone) {
    NastavCislo(0, 500);
    NastavCislo(1, 600);
    NastavCislo(2, 700);   // 0x02BC
    NastavCislo(3, 800);
    Data.Konfigurace.ImpulsniCislo[3] = 9;
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    // Counter 2's high byte, after the five bytes up to 62 %.
    PoruchaRegistru(5);
    Klikni(okno.get(), "Button2");

    EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "500");
    EXPECT_EQ(TextEditu(okno.get(), "Edit2"), "600");
    EXPECT_EQ(TextEditu(okno.get(), "Edit3"), QString::number(0xBC));
    EXPECT_EQ(TextEditu(okno.get(), "Edit4"), "9");
}

TEST_F(Citac619, ReadBackMismatchStopsWithEarlierBytesWritten) {
    auto okno = Otevri();
    for (int n = 0; n < 4; ++n) Napis(okno.get(), Edit(n), QString::number(600 + n));
    EXPECT_EQ(Emu->command("fault readback 4"), "ok");
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), " Chyba zápisu dat.");
    EXPECT_EQ(Cislo(0), 600u);
    EXPECT_EQ(Cislo(1), 601u);
    EXPECT_NE(Cislo(3), 603u);
}

TEST_F(Citac619, ZapisBajtReportsMismatchAsNine) {
    std::string zprava = "x";
    EXPECT_EQ(ZapisBajt(Data.Rozhrani, Data.Handle, Data.Adresa, 6, 0x42, zprava), 0);
    EXPECT_EQ(zprava, "");
    EXPECT_EQ(Registr(6), 0x42u);
    EXPECT_EQ(Emu->command("fault readback 6"), "ok");
    EXPECT_EQ(ZapisBajt(Data.Rozhrani, Data.Handle, Data.Adresa, 6, 0x43, zprava), 9);
    EXPECT_EQ(zprava, "Chyba zápisu dat.");
    EXPECT_EQ(Emu->command("fault clear"), "ok");
    EXPECT_EQ(Emu->command("fault refuse 103 0"), "ok");
    const uint8_t kod = ZapisBajt(Data.Rozhrani, Data.Handle, Data.Adresa, 6, 0x44, zprava);
    EXPECT_NE(kod, 0);
    EXPECT_EQ(zprava, TextKodu(Data.Rozhrani, kod));
}

TEST_F(Citac619, NothingIsSentWithoutAnInitialisedLink) {
    auto okno = Otevri();
    NicBezSpojeni(okno.get());
    // "Ok" needs no link.
    Data.Pripojeno = 0;
    Napis(okno.get(), "Edit2", "77");
    Klikni(okno.get(), "Button3");
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[1], 77);
    Data.Pripojeno = 1;
}

}  // namespace
