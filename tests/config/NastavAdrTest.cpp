// Address and baud-rate window against the emulated module.
#include "NastavAdr.h"
#include "OknoSModulem.h"
#include "StatusBar.h"

#include <QComboBox>
#include <QTest>

namespace {

class NastavAdr : public OknoSModulem {
protected:
    std::unique_ptr<TForm12> Otevri() { return OknoSModulem::Otevri<TForm12>(); }
    static QComboBox* Seznam(QWidget* Okno) { return Prvek<QComboBox>(Okno, "ComboBox1"); }
};

const QString TextAdresaMimo = " Adresa modulu musí být v rozsahu 0-255.";
const QString TextRychlostMimo = " Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.";

TEST_F(NastavAdr, OpensWithTheRecordsValuesAndItsDesign) {
    auto okno = Otevri();
    EXPECT_EQ(okno->objectName(), "Form12");
    EXPECT_EQ(okno->windowTitle(), "Nastavení komunikační adresy a rychlosti");
    EXPECT_EQ(okno->size(), QSize(393, 200));
    EXPECT_EQ(Prvek<QLabel>(okno.get(), "Label1")->text(), "Adresa modulu  (0-255)");
    EXPECT_EQ(Prvek<QLabel>(okno.get(), "Label2")->text(), "Komunikační rychlost");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button1")->text(), "Zapsat");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button2")->text(), "Přečíst");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button3")->text(), "Ok");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button4")->text(), "Cancel");
    QStringList polozky;
    for (int i = 0; i < Seznam(okno.get())->count(); ++i) polozky << Seznam(okno.get())->itemText(i);
    EXPECT_EQ(polozky, QStringList({"600 Bd", "1200 Bd", "2400 Bd", "4800 Bd", "9600 Bd", "19200 Bd", "38400 Bd",
                                    "57600 Bd", "115200 Bd"}));
    EXPECT_FALSE(Seznam(okno.get())->isEditable());

    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "1");
    EXPECT_EQ(Seznam(okno.get())->currentText(), "9600 Bd");
    EXPECT_EQ(TextStavu(okno.get()), " ");

    Data.Konfigurace.UlozenaAdresa = 17;
    Data.Konfigurace.UlozenaRychlost = 7;
    auto druhe = Otevri();
    EXPECT_EQ(TextEditu(druhe.get(), "Edit1"), "17");
    EXPECT_EQ(Seznam(druhe.get())->currentText(), "57600 Bd");
}

TEST_F(NastavAdr, WithoutARecordShowingAndOkDoNothing) {
    TForm12 okno;
    okno.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&okno));
    EXPECT_EQ(TextEditu(&okno, "Edit1"), "Edit1");
    EXPECT_EQ(Seznam(&okno)->currentText(), "9600 Bd");
    EXPECT_EQ(TextStavu(&okno), "");
    const uint32_t pred = Pozadavky();
    Klikni(&okno, "Button3");
    EXPECT_TRUE(okno.isVisible());
    Klikni(&okno, "Button2");
    EXPECT_EQ(TextStavu(&okno), QString::fromUtf8(TextNepripojeno));
    EXPECT_EQ(Pozadavky(), pred);
    Klikni(&okno, "Button4");
    EXPECT_FALSE(okno.isVisible());
}

TEST_F(NastavAdr, ReadShowsTheModulesValuesWithProgress) {
    NastavRegistr(0x3F, 23);
    NastavRegistr(0x3E, 8);
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button2");

    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "23");
    EXPECT_EQ(Seznam(okno.get())->currentText(), "115200 Bd");
    EXPECT_EQ(zaznam.Texty, Prubeh(false, {50, 100}));
    EXPECT_EQ(Log(), (std::vector<std::string>{RadekLogu(102, 0, 0, 0x3F, 0x3F, 0, 0),
                                               RadekLogu(102, 0, 0, 0x3E, 0x3E, 0, 0)}));
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 4);
}

TEST_F(NastavAdr, OkAfterReadStoresTheValuesCancelDoesNot) {
    NastavRegistr(0x3F, 42);
    NastavRegistr(0x3E, 2);
    const TKonfigurace pred = Data.Konfigurace;
    {
        auto okno = Otevri();
        Klikni(okno.get(), "Button2");
        Klikni(okno.get(), "Button4");
        EXPECT_FALSE(okno->isVisible());
        EXPECT_EQ(okno->result(), QDialog::Rejected);
    }
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, pred.UlozenaAdresa);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, pred.UlozenaRychlost);

    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    Klikni(okno.get(), "Button3");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 42);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 2);
    // The rest of the record travels along unchanged.
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[3], pred.ImpulsniCislo[3]);
    EXPECT_EQ(Data.Konfigurace.NegaceDOUT[2], pred.NegaceDOUT[2]);
}

TEST_F(NastavAdr, WriteStoresBothSettingsInTheModuleOnly) {
    auto okno = Otevri();
    Napis(okno.get(), "Edit1", "200");
    Seznam(okno.get())->setCurrentIndex(5);
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button1");

    EXPECT_EQ(Registr(0x3F), 200u);
    EXPECT_EQ(Registr(0x3E), 5u);
    EXPECT_EQ(zaznam.Texty, QStringList({" "}) + Prubeh(true, {50, 100}));
    EXPECT_EQ(Log(), (std::vector<std::string>{
                         RadekLogu(103, 0, 0, 0x3F, 0x3F, 200, 200), RadekLogu(102, 0, 0, 0x3F, 0x3F, 0, 0),
                         RadekLogu(103, 0, 0, 0x3E, 0x3E, 5, 5), RadekLogu(102, 0, 0, 0x3E, 0x3E, 0, 0)}));
    // The link keeps its own address and speed; the record waits for "Ok".
    EXPECT_EQ(Data.Adresa, 1);
    EXPECT_EQ(Data.Rychlost, 9600);
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 4);

    Klikni(okno.get(), "Button3");
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 200);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 5);
    EXPECT_EQ(Data.Adresa, 1);
    EXPECT_EQ(Data.Rychlost, 9600);
}

TEST_F(NastavAdr, AddressBoundsAreCheckedBeforeAnythingIsSent) {
    for (const QString dobra : {"0", "255"}) {
        auto okno = Otevri();
        Napis(okno.get(), "Edit1", dobra);
        Klikni(okno.get(), "Button1");
        EXPECT_EQ(TextStavu(okno.get()), " Konfigurace zapsána.") << dobra.toStdString();
        EXPECT_EQ(Registr(0x3F), dobra.toUInt());
    }
    for (const QString spatna : {"256", "-1", "abc", "", "1.5", "99999"}) {
        auto okno = Otevri();
        Napis(okno.get(), "Edit1", spatna);
        const uint32_t pred = Pozadavky();
        Klikni(okno.get(), "Button1");
        EXPECT_EQ(TextStavu(okno.get()), TextAdresaMimo) << spatna.toStdString();
        EXPECT_EQ(Pozadavky(), pred) << spatna.toStdString();
        Klikni(okno.get(), "Button3");
        EXPECT_FALSE(okno->isVisible());
        EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
    }
}

TEST_F(NastavAdr, RateIndexAboveTheListIsShownAsNoSelectionAndRefused) {
    NastavRegistr(0x3F, 9);
    NastavRegistr(0x3E, 9);
    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    EXPECT_EQ(TextStavu(okno.get()), " Konfigurace přečtena.");
    EXPECT_EQ(Seznam(okno.get())->currentIndex(), -1);

    const uint32_t pred = Pozadavky();
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), TextRychlostMimo);
    EXPECT_EQ(Pozadavky(), pred);
    Klikni(okno.get(), "Button3");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 4);
}

TEST_F(NastavAdr, ReadFailingOnTheRateKeepsTheNewAddressAndTheOldRate) {
    NastavRegistr(0x3F, 77);
    NastavRegistr(0x3E, 0);
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    // The rate, read after the address (50 %).
    PoruchaRegistru(0x3E);
    Klikni(okno.get(), "Button2");

    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "77");
    EXPECT_EQ(Seznam(okno.get())->currentText(), "9600 Bd");
    EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
    ASSERT_EQ(zaznam.Texty.size(), 3);
    EXPECT_EQ(zaznam.Texty.mid(0, 2), Prubeh(false, {50}).mid(0, 2));
}

TEST_F(NastavAdr, ReadBackMismatchStopsTheWriteAfterTheAddress) {
    auto okno = Otevri();
    Napis(okno.get(), "Edit1", "33");
    Seznam(okno.get())->setCurrentIndex(0);
    EXPECT_EQ(Emu->command("fault readback 62"), "ok");
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), " Chyba zápisu dat.");
    EXPECT_EQ(Registr(0x3F), 33u);
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
}

TEST_F(NastavAdr, WriteFailingKeepsEarlierRegistersWritten) {
    auto okno = Otevri();
    Napis(okno.get(), "Edit1", "44");
    Seznam(okno.get())->setCurrentIndex(6);
    ZaznamStavu zaznam(okno.get());
    // The rate, written after the address (50 %).
    PoruchaRegistru(0x3E);
    Klikni(okno.get(), "Button1");
    EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
    EXPECT_EQ(Registr(0x3F), 44u);
    EXPECT_NE(Registr(0x3E), 6u);
}

TEST_F(NastavAdr, NothingIsSentWithoutAnInitialisedLink) {
    auto okno = Otevri();
    NicBezSpojeni(okno.get());

    const uint32_t pred = Pozadavky();
    const int32_t handle = Data.Handle;
    Data.Handle = 0;
    okno->findChild<TStatusBar*>("StatusBar1")->NastavText(0, " ");
    Klikni(okno.get(), "Button2");
    EXPECT_EQ(TextStavu(okno.get()), QString::fromUtf8(TextNepripojeno));
    Data.Handle = handle;

    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(TextEditu(okno.get(), "Edit1"), "1");
}

}  // namespace
