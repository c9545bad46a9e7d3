// Buttons and close requests that arrive while a read or write sequence is
// running on the connection worker: no second sequence beside the first,
// "Ok" carried out once it has ended, and a close that acts at once and
// stops the sequence after the exchange in flight.
#include "Citac619.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "LinkWorker.h"
#include "OknoSModulem.h"

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

TEST_F(Sekvence, CancelDuringAWriteClosesAtOnceAndStopsAfterTheExchangeInFlight) {
    auto okno = Otevri<TForm5>();
    Napis(okno.get(), "Edit4", "999");
    PomalyModul();
    SmazLog();
    Stiskni(okno.get(), "Button1");
    PockejNaPozadavky(3);
    Stiskni(okno.get(), "Button4");
    EXPECT_FALSE(okno->isVisible()) << "the window closes without waiting for the module";
    EXPECT_EQ(okno->result(), QDialog::Rejected);
    kvtest::DokonciPraci();

    const auto log = Log();
    EXPECT_LT(log.size(), 16u) << "the rest of the write is not carried out";
    ASSERT_EQ(log.size() % 2, 0u);
    EXPECT_EQ(log.back().substr(0, 4), "102 ") << "the last write is read back all the same";
    EXPECT_NE(Registr(6) + 256 * Registr(7), 999u);
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[3], 1);
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
