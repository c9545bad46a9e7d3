// Buttons and close requests that arrive while a read or write sequence is
// running on the connection worker: no second sequence beside the first,
// "Ok" carried out once it has ended, and a close that acts at once, stops a
// read after the exchange in flight and lets a write go on to its end.
#include "Citac619.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "LinkWorker.h"
#include "OknoSModulem.h"
#include "Report.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

class Sekvence : public OknoSModulem {
protected:
    // A click that does not wait for what it starts.
    static void Stiskni(QWidget* Okno, const QString& Tlacitko) {
        QTest::mouseClick(Prvek<QPushButton>(Okno, Tlacitko), Qt::LeftButton);
    }
    // Every reply comes late, so that a sequence is still running when the
    // test acts, whatever the machine's speed.
    void PomalyModul() { ASSERT_EQ(Emu->command("fault delay 100 40"), "ok"); }
    void PockejNaPozadavky(uint32_t Pocet) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return Pozadavky() >= Pocet; }, 5000));
    }
};

TEST_F(Sekvence, ReadAndWriteClickedDuringAReadStartNothing) {
    auto okno = Otevri<TForm14>();
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Stiskni(okno.get(), "Button2");
    EXPECT_TRUE(okno->Probiha());
    Stiskni(okno.get(), "Button2");
    Stiskni(okno.get(), "Button1");
    kvtest::DokonciPraci();

    EXPECT_FALSE(okno->Probiha());
    EXPECT_EQ(Log().size(), 12u);
    for (const auto& radek : Log()) EXPECT_EQ(radek.substr(0, 4), "102 ");
    EXPECT_EQ(zaznam.Texty, Prubeh(false, {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));
}

// "Cancel", the close box and Escape each close a window at once during its
// write; the write goes on to its last register, each read back, and its
// closing text goes to the program's report.
TEST_F(Sekvence, AWriteGoesOnToItsEndAfterItsWindowClosesAndItsResultIsReported) {
    const auto zavri = [](QDialog* Okno, int Zpusob) {
        if (Zpusob == 0) Stiskni(Okno, "Button4");
        else if (Zpusob == 1) Okno->close();
        else QTest::keyClick(Okno, Qt::Key_Escape);
    };
    const auto zapis = [&](QDialog* Okno, int Zpusob, size_t Pozadavku, const QString& Titulek) {
        QSignalSpy hlaseni(&Report::Program(), &Report::Told);
        PomalyModul();
        SmazLog();
        Stiskni(Okno, "Button1");
        PockejNaPozadavky(2);
        zavri(Okno, Zpusob);
        EXPECT_FALSE(Okno->isVisible()) << "the window closes without waiting for the module";
        kvtest::DokonciPraci();

        const auto log = Log();
        ASSERT_EQ(log.size(), Pozadavku) << Titulek.toStdString();
        for (size_t i = 0; i < log.size(); ++i) EXPECT_EQ(log[i].substr(0, 4), i % 2 ? "102 " : "103 ") << i;
        ASSERT_EQ(hlaseni.count(), 1);
        EXPECT_EQ(hlaseni.at(0).at(0).toString(), " " + Titulek + ": Konfigurace zapsána.");
        ASSERT_EQ(Emu->command("fault clear"), "ok");
    };

    auto citace = Otevri<TForm5>();
    Napis(citace.get(), "Edit4", "999");
    zapis(citace.get(), 0, 16, "Nastavení čítačů KV-619");
    EXPECT_EQ(Registr(6) + 256 * Registr(7), 999u);
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[3], 1) << "Cancel stores nothing in the record";

    auto dio = Otevri<TForm14>();
    zapis(dio.get(), 1, 24, "Nastavení digitálních vstupů/výstupů");

    auto adresa = Otevri<TForm12>();
    Napis(adresa.get(), "Edit1", "77");
    zapis(adresa.get(), 2, 4, "Nastavení komunikační adresy a rychlosti");
    EXPECT_EQ(Registr(0x3F), 77u);
}

// What the module refuses in a write whose window has closed is reported
// with the library's text.
TEST_F(Sekvence, AFailedWriteOfAClosedWindowIsReportedWithItsError) {
    auto okno = Otevri<TForm12>();
    QSignalSpy hlaseni(&Report::Program(), &Report::Told);
    ASSERT_EQ(Emu->command("fault register 62"), "ok");
    PomalyModul();
    Stiskni(okno.get(), "Button1");
    Stiskni(okno.get(), "Button4");
    kvtest::DokonciPraci();
    ASSERT_EQ(hlaseni.count(), 1);
    EXPECT_EQ(hlaseni.at(0).at(0).toString(),
              " Nastavení komunikační adresy a rychlosti:" + TextChybyKodu(5));
}

TEST_F(Sekvence, CloseBoxAndEscapeDuringAReadCloseAtOnce) {
    for (int zpusob = 0; zpusob < 2; ++zpusob) {
        auto okno = Otevri<TForm14>();
        PomalyModul();
        SmazLog();
        Stiskni(okno.get(), "Button2");
        PockejNaPozadavky(2);
        if (zpusob == 0) okno->close();
        else QTest::keyClick(okno.get(), Qt::Key_Escape);
        EXPECT_FALSE(okno->isVisible()) << zpusob;
        kvtest::DokonciPraci();
        EXPECT_LT(Log().size(), 12u) << zpusob;
        EXPECT_EQ(Data.Konfigurace.NegaceDIN[0], 0xFF);
    }
}

TEST_F(Sekvence, OkDuringAWriteStoresTheOperatorsValuesAfterIt) {
    auto okno = Otevri<TForm12>();
    Napis(okno.get(), "Edit1", "123");
    ZaznamStavu zaznam(okno.get());
    Stiskni(okno.get(), "Button1");
    Stiskni(okno.get(), "Button3");
    EXPECT_TRUE(okno->isVisible()) << "Ok waits for the write";
    kvtest::DokonciPraci();

    EXPECT_EQ(zaznam.Texty.mid(0, 5), QStringList({" "}) + Prubeh(true, {50, 100}).mid(0, 4));
    EXPECT_EQ(Registr(0x3F), 123u);
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(okno->result(), QDialog::Accepted);
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 123);
}

TEST_F(Sekvence, OkDuringAReadStoresWhatWasRead) {
    NastavRegistr(0x3F, 88);
    NastavRegistr(0x3E, 1);
    auto okno = Otevri<TForm12>();
    Stiskni(okno.get(), "Button2");
    Stiskni(okno.get(), "Button3");
    kvtest::DokonciPraci();
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 88);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 1);
}

// With the module silent, every exchange waits out its time-out; the modal
// run still ends as soon as "Cancel" is pressed.
TEST_F(Sekvence, ModalRunEndsWhileTheModuleDoesNotAnswer) {
    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    TForm12 okno;
    okno.PData = &Data;
    bool venku = false;
    QTimer::singleShot(1, &okno, [&] {
        Stiskni(&okno, "Button2");
        QTimer::singleShot(20, &okno, [&] {
            venku = !LinkWorker::Program().Idle();
            Stiskni(&okno, "Button4");
        });
    });
    EXPECT_EQ(okno.exec(), QDialog::Rejected);
    EXPECT_TRUE(venku) << "the read was still waiting for the module when Cancel closed the window";
    kvtest::DokonciPraci();
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
}

}  // namespace
