#include "StatReg.h"
#include "ZiveOkno.h"

#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

class Status : public ZiveOkno {
protected:
    void NastavStatus(uint32_t Hodnota) { Nastav("status", Hodnota); }
    // The value shown in the row of the name label with this caption.
    static QStringList HodnotyUJmena(QWidget* Okno, const QString& Jmeno) {
        QStringList hodnoty;
        for (int n = 0; n < 32; ++n) {
            if (TextPopisku(Okno, n + 1) == Jmeno) hodnoty << TextPopisku(Okno, n + 33);
        }
        return hodnoty;
    }
};

TEST_F(Status, WindowAsDesigned) {
    TForm15 okno;
    OverOkno(&okno, "Form15", "Status registr");
    EXPECT_EQ(okno.AdresaModulu, 0);
    const char* nazvy[8] = {"---", "FN", "PRF", "---", "PWR", "RST", "ERR24", "---"};
    for (int n = 0; n < 32; ++n) {
        EXPECT_EQ(TextPopisku(&okno, n + 1), n < 8 ? QString(nazvy[n]) : QString("---")) << "bit " << n;
        auto* hodnota = Prvek<QLabel>(&okno, QString("Label%1").arg(n + 33));
        ASSERT_NE(hodnota, nullptr);
        EXPECT_EQ(hodnota->text(), "0");
        EXPECT_EQ(hodnota->parentWidget()->objectName(), QString("Panel%1").arg(n / 8 + 1));
    }
    OverPanely(&okno, 4);
    auto* vynulovat = Prvek<QPushButton>(&okno, "Button2");
    auto* zrusit = Prvek<QPushButton>(&okno, "Button1");
    EXPECT_EQ(vynulovat->text(), "Vynulovat");
    EXPECT_EQ(zrusit->text(), "Cancel");
    EXPECT_LT(vynulovat->x(), zrusit->x());

    OverCasovac(&okno, true, 500);  // polls from creation
}

TEST_F(Status, NamedBitsShowBesideTheirNames) {
    NastavStatus(0x76);
    TForm15 okno;
    UkazBezCasovace(okno);
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
    EXPECT_EQ(Bity(&okno), 0x81U);

    NastavStatus(0x80010200);
    Tik(okno);
    EXPECT_EQ(Bity(&okno), 0x80010200U);
}

TEST_F(Status, ResetShowsOnlyAtTheNextPoll) {
    NastavStatus(0x76);
    TForm15 okno;
    UkazBezCasovace(okno);
    Tik(okno);
    ASSERT_EQ(Bity(&okno), 0x76U);

    const QString stav = TextStavu(&okno);
    Stiskni(&okno, "Button2");
    EXPECT_EQ(Posledni(), "101 0 0 0 0 0 0");
    EXPECT_EQ(Emu->value("get status"), 0U);
    EXPECT_EQ(Bity(&okno), 0x76U) << "nothing changes until the next poll";
    EXPECT_EQ(TextStavu(&okno), stav);

    Tik(okno);
    EXPECT_EQ(Bity(&okno), 0U);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

TEST_F(Status, RefusedResetShowsTheError) {
    NastavStatus(0x20);
    TForm15 okno;
    UkazBezCasovace(okno);
    ASSERT_EQ(Emu->command("fault refuse 101 0 1"), "ok");
    Stiskni(&okno, "Button2");
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    EXPECT_EQ(Emu->value("get status"), 0x20U);
}

TEST_F(Status, NotConnectedResetSendsNothing) {
    NastavStatus(0xFF);
    TForm15 okno;
    UkazBezCasovace(okno);
    const uint32_t pred = Pozadavky();
    Data.Pripojeno = 0;
    Stiskni(&okno, "Button2");
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(Emu->value("get status"), 0xFFU);
}

TEST_F(Status, RealTimerPolls) {
    NastavStatus(0x02);
    TForm15 okno;
    Ukaz(okno);
    ASSERT_TRUE(QTest::qWaitFor([&] { return TextPopisku(&okno, 34) == "1"; }, 5000));
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

}  // namespace
