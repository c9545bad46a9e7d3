// A window is freed as soon as it closes; its timer must not outlive it, and
// what the operator asked of the module is finished all the same.
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Report.h"
#include "StatReg.h"
#include "ZiveOkno.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

class Zivotnost : public ZiveOkno {
protected:
    // Shows the window, lets its real timer poll the module, frees it, and
    // then gives the event loop time for several more intervals.
    template <typename TOkno>
    void SmazBehem() {
        auto* okno = new TOkno;
        okno->PData = &Data;
        okno->show();
        const uint32_t pred = Pozadavky();
        ASSERT_TRUE(QTest::qWaitFor([&] { return Pozadavky() > pred; }, 5000));
        ASSERT_TRUE(okno->template findChild<QTimer*>("Timer1")->isActive());
        delete okno;
        const uint32_t poSmazani = Pozadavky();
        QTest::qWait(1200);
        EXPECT_EQ(Pozadavky(), poSmazani);
    }

    // The modal run as the main window makes it: exec, close with Cancel
    // once a poll has come, free.
    template <typename TOkno>
    void ModalniBeh(const char* Zrusit) {
        auto* okno = new TOkno;
        okno->PData = &Data;
        const uint32_t pred = Pozadavky();
        QTimer hlidac;
        hlidac.setInterval(20);
        QObject::connect(&hlidac, &QTimer::timeout, [&] {
            if (okno->isVisible() && Pozadavky() > pred) {
                QTest::mouseClick(okno->template findChild<QPushButton*>(Zrusit), Qt::LeftButton);
            }
        });
        hlidac.start();
        QTimer::singleShot(8000, okno, &QDialog::reject);  // bound, should the poll never come
        okno->exec();
        hlidac.stop();
        EXPECT_GT(Pozadavky(), pred);
        EXPECT_FALSE(okno->template findChild<QTimer*>("Timer1")->isActive());
        delete okno;
        const uint32_t poSmazani = Pozadavky();
        QTest::qWait(1200);
        EXPECT_EQ(Pozadavky(), poSmazani);
    }
};

TEST_F(Zivotnost, DeletedWindowGetsNoFurtherTick) {
    SmazBehem<TForm11>();
    SmazBehem<TForm6>();
    SmazBehem<TForm15>();
}

TEST_F(Zivotnost, ModalRunEndsPolling) {
    ModalniBeh<TForm11>("Button1");
    ModalniBeh<TForm6>("Button2");
    ModalniBeh<TForm15>("Button1");
}

}  // namespace

namespace {

// With the module silent a request waits out its time-out on the connection
// worker: the window goes on, skips (and counts) the ticks that come while
// the request is out, closes at once, and shows a recovered module at the
// next tick.
TEST_F(Zivotnost, ASilentModuleNeitherHoldsTheWindowNorBuildsABacklog) {
    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    TForm11 okno;
    Ukaz(okno);
    okno.Timer1->stop();
    for (int tik = 0; tik < 6; ++tik) okno.Timer1Timer();
    EXPECT_TRUE(okno.Pozadavky.Venku());
    EXPECT_EQ(okno.Pozadavky.Vynechano(), 5);
    kvtest::DokonciPraci();
    EXPECT_EQ(Pozadavky(), 1u) << "one request for six ticks";
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(BezOdpovedi));

    ASSERT_EQ(Emu->command("fault clear"), "ok");
    Tik(okno);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());

    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    okno.Timer1Timer();
    QTest::mouseClick(okno.Button1, Qt::LeftButton);
    EXPECT_FALSE(okno.isVisible()) << "Cancel acts while the request is still out";
    EXPECT_TRUE(okno.Pozadavky.Venku());
}

}  // namespace

namespace {

// What the operator asked for (outputs, a reset, the clock) is carried out
// whole when its window is closed at once, and its result is reported as
// the window is no longer there to show it.
class ZavrenoBehem : public ZiveOkno {
protected:
    template <typename TOkno>
    QString ProvedAZavri(const char* Tlacitko, const char* Zrusit) {
        QSignalSpy hlaseni(&Report::Program(), &Report::Told);
        TOkno okno;
        okno.PData = &Data;
        okno.show();
        if (okno.Timer1) okno.Timer1->stop();
        EXPECT_EQ(Emu->command("fault delay 100 30"), "ok");
        SmazLog();
        QTest::mouseClick(Prvek<QPushButton>(&okno, Tlacitko), Qt::LeftButton);
        QTest::mouseClick(Prvek<QPushButton>(&okno, Zrusit), Qt::LeftButton);
        EXPECT_FALSE(okno.isVisible());
        kvtest::DokonciPraci();
        EXPECT_EQ(hlaseni.count(), 1);
        return hlaseni.isEmpty() ? QString() : hlaseni.at(0).at(0).toString();
    }
    size_t PocetPozadavku() {
        const QString log = QString::fromStdString(Emu->command("get log"));
        return static_cast<size_t>(log.split(';', Qt::SkipEmptyParts).size());
    }
};

TEST_F(ZavrenoBehem, OutputsAreWrittenAndReported) {
    EXPECT_EQ(ProvedAZavri<TForm9>("Button1", "Button2"), " Zápis na digitální výstupy: Data zapsána");
    EXPECT_EQ(PocetPozadavku(), 1u);
}

TEST_F(ZavrenoBehem, AllFourCountersAreResetAndReported) {
    EXPECT_EQ(ProvedAZavri<TForm6>("Button1", "Button2"), " Okamžité hodnoty čítačů: Čítače vynulovány");
    EXPECT_EQ(PocetPozadavku(), 4u);
}

TEST_F(ZavrenoBehem, StatusRegisterResetIsReportedWithTheLibrarysText) {
    EXPECT_EQ(ProvedAZavri<TForm15>("Button2", "Button1"), " Status registr:" + TextUspechu());
    EXPECT_EQ(PocetPozadavku(), 1u);
}

TEST_F(ZavrenoBehem, AFailedWriteIsReportedWithItsError) {
    ASSERT_EQ(Emu->command("fault refuse 1 64"), "ok");
    EXPECT_EQ(ProvedAZavri<TForm9>("Button1", "Button2"), " Zápis na digitální výstupy:" + TextChybyKodu(Odmitnuto));
}

}  // namespace
