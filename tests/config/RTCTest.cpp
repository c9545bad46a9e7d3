// Real-time clock window against the emulated module.  The poll is driven
// by calling the timer's handler, so no test depends on the timer's pace.
#include "OknoSModulem.h"
#include "RTC.h"
#include "Report.h"
#include "StatusBar.h"

#include <QDateTime>
#include <QFrame>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {

class RTC : public OknoSModulem {
protected:
    // The tests tick by hand.
    std::unique_ptr<TForm3> Otevri() {
        return OknoSModulem::Otevri<TForm3>([](TForm3& Okno) { Casovac(&Okno)->stop(); });
    }
    static QTimer* Casovac(QWidget* Okno) { return Okno->findChild<QTimer*>("Timer1"); }
    static QString Popisek(QWidget* Okno, int Cislo) {
        auto* popisek = Prvek<QLabel>(Okno, QString("Label%1").arg(Cislo));
        return popisek ? popisek->text() : QString("<chybí>");
    }
    QDateTime HodinyModulu() {
        return QDateTime::fromString(QString::fromStdString(Emu->command("get clock")), "yyyy-MM-dd HH:mm:ss");
    }
    static QString TextCasu(const QTime& Cas) {
        return QString::fromStdString(CasNaText(static_cast<uint8_t>(Cas.second()),
                                                static_cast<uint8_t>(Cas.minute()),
                                                static_cast<uint8_t>(Cas.hour())));
    }
    static QString TextData(const QDate& Datum) {
        return QString::fromStdString(DatumNaText(static_cast<uint8_t>(Datum.day()),
                                                  static_cast<uint8_t>(Datum.month()),
                                                  static_cast<uint8_t>(Datum.year() % 4)));
    }
    // The texts the window may show for a clock read between two readings.
    static QStringList TextyMezi(const QDateTime& Od, const QDateTime& Do) {
        QStringList texty;
        for (QDateTime t = Od; t <= Do; t = t.addSecs(1)) texty << TextCasu(t.time()) + " " + TextData(t.date());
        return texty;
    }
};

TEST_F(RTC, DesignHasThreeRowsInTwoWhitePanels) {
    auto okno = Otevri();
    EXPECT_EQ(okno->objectName(), "Form3");
    EXPECT_EQ(okno->windowTitle(), "Nastavení hodinového obvodu RTC");
    EXPECT_EQ(okno->size(), QSize(403, 233));
    EXPECT_EQ(Popisek(okno.get(), 1), "Začátek výpadku napájení");
    EXPECT_EQ(Popisek(okno.get(), 2), "Konec výpadku napájení");
    EXPECT_EQ(Popisek(okno.get(), 3), "Čas a datum modulu");
    auto* panel1 = Prvek<QFrame>(okno.get(), "Panel1");
    auto* panel2 = Prvek<QFrame>(okno.get(), "Panel2");
    ASSERT_TRUE(panel1 && panel2);
    for (auto* panel : {panel1, panel2}) {
        EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
        EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(Qt::white));
    }
    for (int n : {4, 5, 7, 8}) EXPECT_EQ(Prvek<QLabel>(okno.get(), QString("Label%1").arg(n))->parentWidget(), panel1);
    for (int n : {6, 9}) EXPECT_EQ(Prvek<QLabel>(okno.get(), QString("Label%1").arg(n))->parentWidget(), panel2);
    for (int n = 4; n <= 9; ++n) EXPECT_EQ(Popisek(okno.get(), n), "0");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button1")->text(), "Nastavit čas");
    EXPECT_EQ(Prvek<QPushButton>(okno.get(), "Button2")->text(), "Cancel");
    EXPECT_EQ(TextStavu(okno.get()), "");
    auto* radek = Prvek<QWidget>(okno.get(), "StatusBar1");
    EXPECT_EQ(radek->geometry().bottom(), okno->height() - 1);
    EXPECT_TRUE(Prvek<QLabel>(okno.get(), "StatusBar1_Panel0")->wordWrap()) << "long error texts go on in a second line";
    for (const char* tlacitko : {"Button1", "Button2"})
        EXPECT_LT(Prvek<QPushButton>(okno.get(), tlacitko)->geometry().bottom(), radek->y()) << tlacitko;

    TForm3 nove;
    ASSERT_NE(Casovac(&nove), nullptr);
    EXPECT_TRUE(Casovac(&nove)->isActive());
    EXPECT_EQ(Casovac(&nove)->interval(), 200);
    EXPECT_EQ(Casovac(&nove)->timerType(), Qt::PreciseTimer);
}

TEST_F(RTC, ShowingTakesTheAddressAndResetsTheStamps) {
    Data.Adresa = 1;
    auto okno = Otevri();
    EXPECT_EQ(okno->AdresaModulu, 1);
    EXPECT_FALSE(okno->VypadkyNacteny);
    Tik(*okno);
    EXPECT_TRUE(okno->VypadkyNacteny);
    okno->hide();
    okno->show();
    EXPECT_FALSE(okno->VypadkyNacteny);
    EXPECT_TRUE(Casovac(okno.get())->isActive());
    for (int n = 4; n <= 9; ++n) EXPECT_EQ(Popisek(okno.get(), n), "0");
}

TEST_F(RTC, ShowsTheModulesClock) {
    ASSERT_EQ(Emu->command("set clock 2025-03-07 09:05:07"), "ok");
    auto okno = Otevri();
    const QDateTime pred = HodinyModulu();
    Tik(*okno);
    const QDateTime po = HodinyModulu();
    const QString zobrazeno = Popisek(okno.get(), 6) + " " + Popisek(okno.get(), 9);
    EXPECT_TRUE(TextyMezi(pred, po).contains(zobrazeno)) << zobrazeno.toStdString();
    EXPECT_TRUE(zobrazeno.startsWith("9:05:")) << zobrazeno.toStdString();
    EXPECT_EQ(TextStavu(okno.get()), TextUspechu());
}

TEST_F(RTC, ShowsThePowerFailureStampsAfterARestart) {
    Emu->restart();
    const std::string razitka = Emu->command("get stamps");
    // start=YYYY-MM-DD HH:MM:SS end=YYYY-MM-DD HH:MM:SS
    const auto zacatek = QDateTime::fromString(QString::fromStdString(razitka.substr(6, 19)), "yyyy-MM-dd HH:mm:ss");
    const auto konec = QDateTime::fromString(QString::fromStdString(razitka.substr(30, 19)), "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(zacatek.isValid() && konec.isValid()) << razitka;

    auto okno = Otevri();
    Tik(*okno);
    EXPECT_EQ(Popisek(okno.get(), 4), TextCasu(zacatek.time()));
    EXPECT_EQ(Popisek(okno.get(), 7), TextData(zacatek.date()));
    EXPECT_EQ(Popisek(okno.get(), 5), TextCasu(konec.time()));
    EXPECT_EQ(Popisek(okno.get(), 8), TextData(konec.date()));
}

TEST_F(RTC, StampsAreReadOncePerOpeningAndTheClockEveryTick) {
    ASSERT_EQ(Emu->command("set stamps 2024-02-29 23:59:58 2025-01-01 00:00:05"), "ok");
    auto okno = Otevri();
    SmazLog();
    Tik(*okno);
    // The status register first: its PRF tells whether the stamps record a failure.
    EXPECT_EQ(Log(), (std::vector<std::string>{RadekLogu(100, 0, 0, 0, 0, 0, 0), RadekLogu(100, 3, 0, 0, 0, 0, 0),
                                               RadekLogu(100, 4, 0, 0, 0, 0, 0), RadekLogu(100, 5, 0, 0, 0, 0, 0),
                                               RadekLogu(100, 6, 0, 0, 0, 0, 0), RadekLogu(100, 1, 0, 0, 0, 0, 0),
                                               RadekLogu(100, 2, 0, 0, 0, 0, 0)}));
    EXPECT_EQ(Popisek(okno.get(), 4), "23:59:58");
    EXPECT_EQ(Popisek(okno.get(), 7), QString::fromStdString(DatumNaText(29, 2, 0)));
    EXPECT_EQ(Popisek(okno.get(), 5), "0:00:05");
    EXPECT_EQ(Popisek(okno.get(), 8), QString::fromStdString(DatumNaText(1, 1, 1)));

    ASSERT_EQ(Emu->command("set stamps 2023-05-06 07:08:09 2023-05-06 07:18:19"), "ok");
    SmazLog();
    Tik(*okno);
    Tik(*okno);
    EXPECT_EQ(Log(), (std::vector<std::string>{RadekLogu(100, 1, 0, 0, 0, 0, 0), RadekLogu(100, 2, 0, 0, 0, 0, 0),
                                               RadekLogu(100, 1, 0, 0, 0, 0, 0), RadekLogu(100, 2, 0, 0, 0, 0, 0)}));
    EXPECT_EQ(Popisek(okno.get(), 4), "23:59:58");

    // A new opening reads them afresh.
    okno->hide();
    okno->show();
    Casovac(okno.get())->stop();
    Tik(*okno);
    EXPECT_EQ(Popisek(okno.get(), 4), "7:08:09");
    EXPECT_EQ(Popisek(okno.get(), 5), "7:18:19");
}

TEST_F(RTC, AFailingStampReadStopsEveryTickAtTheSameGroup) {
    ASSERT_EQ(Emu->command("power-fail"), "ok");
    ASSERT_EQ(Emu->command("fault refuse 100 4"), "ok");
    auto okno = Otevri();
    const uint32_t pred = Pozadavky();
    for (int tik = 0; tik < 3; ++tik) {
        Tik(*okno);
        EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
        EXPECT_FALSE(okno->VypadkyNacteny);
    }
    // The status register, group 3, then the refused group 4, each tick; the
    // clock is never read.
    EXPECT_EQ(Pozadavky() - pred, 9u);
    EXPECT_NE(Popisek(okno.get(), 4), "0");
    EXPECT_EQ(Popisek(okno.get(), 6), "0");
    EXPECT_EQ(Popisek(okno.get(), 9), "0");

    ASSERT_EQ(Emu->command("fault clear"), "ok");
    Tik(*okno);
    EXPECT_TRUE(okno->VypadkyNacteny);
    EXPECT_NE(Popisek(okno.get(), 6), "0");
    EXPECT_EQ(TextStavu(okno.get()), TextUspechu());
}

// A module that never recorded a power failure (PRF clear, both stamps at the
// value of a stamp never written) has no date to show for one.
TEST_F(RTC, AModuleWithoutAPowerFailureSaysNoneIsRecorded) {
    auto okno = Otevri();
    Tik(*okno);
    EXPECT_TRUE(okno->VypadkyNacteny);
    for (int n : {4, 5}) {
        EXPECT_EQ(Popisek(okno.get(), n), "nezaznamenán") << n;
        auto* popisek = Prvek<QLabel>(okno.get(), QString("Label%1").arg(n));
        EXPECT_GE(popisek->width(), popisek->sizeHint().width()) << "the whole text shows";
    }
    for (int n : {7, 8}) EXPECT_EQ(Popisek(okno.get(), n), "") << n;
    EXPECT_NE(Popisek(okno.get(), 6), "0");
    EXPECT_EQ(TextStavu(okno.get()), TextUspechu());

    // Once PRF is set, the same stamps are a failure that happened.
    ASSERT_EQ(Emu->command("set status 4"), "ok");
    okno->hide();
    okno->show();
    Casovac(okno.get())->stop();
    Tik(*okno);
    EXPECT_EQ(Popisek(okno.get(), 4), "0:00:00");
    EXPECT_EQ(Popisek(okno.get(), 7), QString::fromStdString(DatumNaText(1, 1, 0)));
}

// "Nastavit čas" and "Cancel" at once: both requests go out all the same, and
// their result is reported for the closed window.
TEST_F(RTC, ClockSetWhenTheWindowClosesAtOnceIsFinishedAndReported) {
    auto okno = Otevri();
    QSignalSpy hlaseni(&Report::Program(), &Report::Told);
    SmazLog();
    QTest::mouseClick(Prvek<QPushButton>(okno.get(), "Button1"), Qt::LeftButton);
    QTest::mouseClick(Prvek<QPushButton>(okno.get(), "Button2"), Qt::LeftButton);
    EXPECT_FALSE(okno->isVisible());
    kvtest::DokonciPraci();
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].substr(0, 6), "101 1 ");
    EXPECT_EQ(log[1].substr(0, 6), "101 2 ");
    ASSERT_EQ(hlaseni.count(), 1);
    EXPECT_EQ(hlaseni.at(0).at(0).toString(), " Nastavení hodinového obvodu RTC: Čas nastaven");
}

TEST_F(RTC, NotConnectedEveryTickShowsTheGuardText) {
    Data.Pripojeno = 0;
    auto okno = Otevri();
    const uint32_t pred = Pozadavky();
    for (int tik = 0; tik < 3; ++tik) {
        Tik(*okno);
        EXPECT_EQ(TextStavu(okno.get()), QString::fromUtf8(TextNepripojeno));
    }
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), QString::fromUtf8(TextNepripojeno));
    EXPECT_EQ(Pozadavky(), pred);
    for (int n = 4; n <= 9; ++n) EXPECT_EQ(Popisek(okno.get(), n), "0");
    Data.Pripojeno = 1;
}

TEST_F(RTC, SetTimeSendsTheComputersClockTimeThenDate) {
    ASSERT_EQ(Emu->command("set clock 2001-01-01 00:00:00"), "ok");
    auto okno = Otevri();
    Casovac(okno.get())->start();
    SmazLog();
    const QDateTime pred = QDateTime::currentDateTime();
    Klikni(okno.get(), "Button1");
    const QDateTime po = QDateTime::currentDateTime();

    EXPECT_EQ(TextStavu(okno.get()), " Čas nastaven");
    EXPECT_TRUE(Casovac(okno.get())->isActive());
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    QStringList moznosti;
    for (QDateTime t = pred.addMSecs(-pred.time().msec()); t <= po; t = t.addSecs(1)) {
        const QTime c = t.time();
        const QDate d = t.date();
        moznosti << QString::fromStdString(RadekLogu(101, 1, 0, c.second(), c.minute(), c.hour(), 0) + ";" +
                                           RadekLogu(101, 2, 0, d.day(), d.month(), d.year() % 4, 0));
    }
    const QString odeslano = QString::fromStdString(log[0] + ";" + log[1]);
    EXPECT_TRUE(moznosti.contains(odeslano)) << odeslano.toStdString();

    const QDateTime modul = HodinyModulu();
    EXPECT_GE(modul.addSecs(1), pred.addMSecs(-pred.time().msec()));
    EXPECT_LE(modul, QDateTime::currentDateTime().addSecs(1));
}

TEST_F(RTC, SetTimeFailureReportsAndResumesPolling) {
    ASSERT_EQ(Emu->command("fault refuse 101 2"), "ok");
    auto okno = Otevri();
    SmazLog();
    Klikni(okno.get(), "Button1");
    EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
    EXPECT_TRUE(Casovac(okno.get())->isActive());
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].substr(0, 6), "101 1 ");
    EXPECT_EQ(log[1].substr(0, 6), "101 2 ");
}

TEST_F(RTC, RealTimerPollsAndCancelStopsIt) {
    ASSERT_EQ(Emu->command("set clock 2025-06-15 12:00:00"), "ok");
    auto okno = std::make_unique<TForm3>();
    okno->PData = &Data;
    okno->show();
    // Wait for the timer's own ticks, a bounded number of times.
    for (int pokus = 0; pokus < 50 && Popisek(okno.get(), 6) == "0"; ++pokus) QTest::qWait(100);
    EXPECT_TRUE(okno->VypadkyNacteny);
    EXPECT_TRUE(Popisek(okno.get(), 6).startsWith("12:00:")) << Popisek(okno.get(), 6).toStdString();

    Klikni(okno.get(), "Button2");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_FALSE(Casovac(okno.get())->isActive());
    const uint32_t pred = Pozadavky();
    QTest::qWait(300);
    EXPECT_EQ(Pozadavky(), pred);
}

TEST_F(RTC, EscapeClosesAndStopsPolling) {
    auto okno = Otevri();
    Casovac(okno.get())->start();
    QTest::keyClick(okno.get(), Qt::Key_Escape);
    EXPECT_FALSE(okno->isVisible());
    EXPECT_FALSE(Casovac(okno.get())->isActive());
}

// Closed while a tick's reads are out, the window stops after the exchange
// in flight: the reads after it are never sent.
TEST_F(RTC, ClosingStopsATicksReadsAfterTheExchangeInFlight) {
    auto okno = Otevri();
    ASSERT_EQ(Emu->command("fault delay 100 100"), "ok");
    SmazLog();
    okno->Timer1Timer();  // the status register, the four stamp groups, time and date
    const auto konec = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Log().empty() && std::chrono::steady_clock::now() < konec)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(Log().size(), 1u) << "the first read is out";
    Klikni(okno.get(), "Button2");
    kvtest::DokonciPraci();
    EXPECT_EQ(Log().size(), 1u) << "only the read in flight reached the module";
    ASSERT_EQ(Emu->command("fault clear"), "ok");
}

}  // namespace
