#include "StatReg.h"
#include "ZiveOkno.h"

#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

class Status : public ZiveOkno {
protected:
    void NastavStatus(uint32_t Hodnota) {
        ASSERT_EQ(Emu->command("set status " + std::to_string(Hodnota)), "ok");
        ASSERT_EQ(Emu->value("get status"), Hodnota);
    }
    static uint32_t Zobrazeno(QWidget* Okno) {
        uint32_t hodnota = 0;
        for (int n = 0; n < 32; ++n) {
            if (TextPopisku(Okno, n + 33) == "1") hodnota |= 1U << n;
        }
        return hodnota;
    }
    // The value shown in the row of the name label with this caption.
    static QStringList HodnotyUJmena(QWidget* Okno, const QString& Jmeno) {
        QStringList hodnoty;
        for (int n = 0; n < 32; ++n) {
            if (TextPopisku(Okno, n + 1) == Jmeno) hodnoty << TextPopisku(Okno, n + 33);
        }
        return hodnoty;
    }
    void Otevri(TForm15& Okno) {
        Okno.PData = &Data;
        Okno.show();
        Okno.findChild<QTimer*>("Timer1")->stop();
    }
};

TEST_F(Status, WindowAsDesigned) {
    TForm15 okno;
    EXPECT_EQ(okno.objectName(), "Form15");
    EXPECT_EQ(okno.windowTitle(), "Status registr");
    EXPECT_EQ(okno.minimumSize(), okno.maximumSize());
    EXPECT_EQ(okno.AdresaModulu, 0);
    const char* nazvy[8] = {"---", "FN", "PRF", "---", "PWR", "RST", "ERR24", "---"};
    for (int n = 0; n < 32; ++n) {
        EXPECT_EQ(TextPopisku(&okno, n + 1), n < 8 ? QString(nazvy[n]) : QString("---")) << "bit " << n;
        auto* hodnota = Prvek<QLabel>(&okno, QString("Label%1").arg(n + 33));
        ASSERT_NE(hodnota, nullptr);
        EXPECT_EQ(hodnota->text(), "0");
        EXPECT_EQ(hodnota->parentWidget()->objectName(), QString("Panel%1").arg(n / 8 + 1));
    }
    for (int p = 1; p <= 4; ++p) EXPECT_EQ(Prvek<QFrame>(&okno, QString("Panel%1").arg(p))->frameShadow(), QFrame::Sunken);
    auto* vynulovat = Prvek<QPushButton>(&okno, "Button2");
    auto* zrusit = Prvek<QPushButton>(&okno, "Button1");
    EXPECT_EQ(vynulovat->text(), "Vynulovat");
    EXPECT_EQ(zrusit->text(), "Cancel");
    EXPECT_LT(vynulovat->x(), zrusit->x());

    auto* casovac = Prvek<QTimer>(&okno, "Timer1");
    ASSERT_NE(casovac, nullptr);
    EXPECT_TRUE(casovac->isActive()) << "polls from creation";
    EXPECT_EQ(casovac->interval(), 500);
    EXPECT_EQ(casovac->timerType(), Qt::PreciseTimer);
}

TEST_F(Status, NamedBitsShowBesideTheirNames) {
    NastavStatus(0x76);
    TForm15 okno;
    Otevri(okno);
    EXPECT_EQ(okno.AdresaModulu, 1);
    Tik(okno);
    EXPECT_EQ(Posledni(), "100 0 0 0 0 0 0");
    for (const char* jmeno : {"FN", "PRF", "PWR", "RST", "ERR24"}) {
        EXPECT_EQ(HodnotyUJmena(&okno, jmeno), QStringList{"1"}) << jmeno;
    }
    EXPECT_FALSE(HodnotyUJmena(&okno, "---").contains("1"));
    EXPECT_EQ(TextStavu(&okno), TextUspechu());

    NastavStatus(0x81);
    Tik(okno);
    EXPECT_EQ(TextPopisku(&okno, 33), "1");
    EXPECT_EQ(TextPopisku(&okno, 40), "1");
    EXPECT_EQ(Zobrazeno(&okno), 0x81U);

    NastavStatus(0x80010200);
    Tik(okno);
    EXPECT_EQ(Zobrazeno(&okno), 0x80010200U);
}

TEST_F(Status, FailedReadKeepsLastGoodValues) {
    NastavStatus(0x76);
    TForm15 okno;
    Otevri(okno);
    Tik(okno);
    NastavStatus(0);
    ASSERT_EQ(Emu->command("fault refuse 100 0 1"), "ok");
    Tik(okno);
    EXPECT_EQ(Zobrazeno(&okno), 0x76U);
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    Tik(okno);
    EXPECT_EQ(Zobrazeno(&okno), 0U);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

TEST_F(Status, ResetShowsOnlyAtTheNextPoll) {
    NastavStatus(0x76);
    TForm15 okno;
    Otevri(okno);
    Tik(okno);
    ASSERT_EQ(Zobrazeno(&okno), 0x76U);

    const QString stav = TextStavu(&okno);
    QTest::mouseClick(okno.findChild<QPushButton*>("Button2"), Qt::LeftButton);
    kvtest::DokonciPraci();
    EXPECT_EQ(Posledni(), "101 0 0 0 0 0 0");
    EXPECT_EQ(Emu->value("get status"), 0U);
    EXPECT_EQ(Zobrazeno(&okno), 0x76U) << "nothing changes until the next poll";
    EXPECT_EQ(TextStavu(&okno), stav);

    Tik(okno);
    EXPECT_EQ(Zobrazeno(&okno), 0U);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

TEST_F(Status, RefusedResetShowsTheError) {
    NastavStatus(0x20);
    TForm15 okno;
    Otevri(okno);
    ASSERT_EQ(Emu->command("fault refuse 101 0 1"), "ok");
    QTest::mouseClick(okno.findChild<QPushButton*>("Button2"), Qt::LeftButton);
    kvtest::DokonciPraci();
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    EXPECT_EQ(Emu->value("get status"), 0x20U);
}

TEST_F(Status, NotConnectedSendsNothing) {
    NastavStatus(0xFF);
    TForm15 okno;
    Otevri(okno);
    const uint32_t pred = Pozadavky();
    Data.Pripojeno = 0;
    Tik(okno);
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(Zobrazeno(&okno), 0U);
    QTest::mouseClick(okno.findChild<QPushButton*>("Button2"), Qt::LeftButton);
    kvtest::DokonciPraci();
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(Emu->value("get status"), 0xFFU);
}

TEST_F(Status, RealTimerPolls) {
    NastavStatus(0x02);
    TForm15 okno;
    okno.PData = &Data;
    okno.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return TextPopisku(&okno, 34) == "1"; }, 5000));
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

}  // namespace
