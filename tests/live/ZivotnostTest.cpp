// A window is freed as soon as it closes; its timer must not outlive it.
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "StatReg.h"
#include "ZiveOkno.h"

#include <QPushButton>
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
