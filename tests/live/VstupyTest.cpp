#include "OkamDIN.h"
#include "ZiveOkno.h"

#include "StatusBar.h"

#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <set>
#include <utility>

namespace {

class Vstupy : public ZiveOkno {
protected:
    void SetUp() override {
        ZiveOkno::SetUp();
        if (HasFatalFailure()) return;
        // No negation, so the inputs read back as set on the pins.
        for (int registr : {0x21, 0x24, 0x27, 0x2A}) {
            ASSERT_EQ(Emu->command("set reg " + std::to_string(registr) + " 0"), "ok");
        }
    }

    void NastavVstupy(uint32_t Hodnota) { Nastav("inputs", Hodnota); }
};

TEST(BitNaTextTest, EveryBitOfAByte) {
    for (int bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(BitNaText(static_cast<uint8_t>(1U << bit), bit), "1");
        EXPECT_EQ(BitNaText(static_cast<uint8_t>(~(1U << bit)), bit), "0");
    }
    EXPECT_EQ(BitNaText(0x76, 0), "0");
    EXPECT_EQ(BitNaText(0x76, 1), "1");
    EXPECT_EQ(BitNaText(0xFF, 8), "0");
}

TEST_F(Vstupy, WindowAsDesigned) {
    TForm11 okno;
    OverOkno(&okno, "Form11", "Okamžité hodnoty digitálních vstupů");
    EXPECT_EQ(okno.AdresaModulu, 0);
    for (int n = 0; n < 32; ++n) {
        EXPECT_EQ(TextPopisku(&okno, n + 1), QString("DIN%1").arg(n));
        auto* hodnota = Prvek<QLabel>(&okno, QString("Label%1").arg(n + 33));
        ASSERT_NE(hodnota, nullptr);
        EXPECT_EQ(hodnota->text(), "0");
        EXPECT_EQ(hodnota->parentWidget()->objectName(), QString("Panel%1").arg(n / 8 + 1));
    }
    OverPanely(&okno, 4);
    for (int p = 1; p <= 4; ++p) {
        EXPECT_EQ(Prvek<QFrame>(&okno, QString("Panel%1").arg(p))->palette().color(QPalette::Window),
                  QColor(Qt::white));
    }
    EXPECT_EQ(Prvek<QPushButton>(&okno, "Button1")->text(), "Cancel");
    auto* stav = Prvek<TStatusBar>(&okno, "StatusBar1");
    ASSERT_NE(stav, nullptr);
    EXPECT_EQ(stav->PocetPanelu(), 1);
    EXPECT_EQ(stav->Text(0), "");

    OverCasovac(&okno, true, 100);  // polls from creation
}

TEST_F(Vstupy, PatternLandsOnTheRightLabels) {
    NastavVstupy(0xFF008001);  // D1..D4 = 0x01, 0x80, 0x00, 0xFF
    TForm11 okno;
    Ukaz(okno);
    EXPECT_EQ(okno.AdresaModulu, 1);

    const uint32_t pred = Pozadavky();
    Tik(okno);
    EXPECT_EQ(Pozadavky(), pred + 1);
    EXPECT_EQ(Posledni(), "0 64 0 0 0 0 0");

    const std::set<int> jednicky = {0, 15, 24, 25, 26, 27, 28, 29, 30, 31};
    for (int n = 0; n < 32; ++n) {
        EXPECT_EQ(TextPopisku(&okno, n + 33), jednicky.count(n) ? "1" : "0") << "DIN" << n;
    }
    EXPECT_EQ(TextStavu(&okno), TextUspechu());

    NastavVstupy(0x12345678);
    Tik(okno);
    EXPECT_EQ(Bity(&okno), 0x12345678U);
}

TEST_F(Vstupy, ReplyStatusByteHasNoEffect) {
    // The module's reply status is the low byte of its status register.
    ASSERT_EQ(Emu->command("set status 255"), "ok");
    NastavVstupy(0x0000A001);
    TForm11 okno;
    Ukaz(okno);
    Tik(okno);
    EXPECT_EQ(Bity(&okno), 0x0000A001U);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

TEST_F(Vstupy, WithoutRecordTheTickDoesNothing) {
    TForm11 okno;
    okno.show();
    const uint32_t pred = Pozadavky();
    Tik(okno);
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(TextStavu(&okno), "");
}

TEST_F(Vstupy, AddressIsTheOneOfTheOpening) {
    NastavVstupy(0x80);
    Data.Adresa = 1;
    TForm11 okno;
    Ukaz(okno);
    Data.Adresa = 7;  // a later change does not reach an open window
    Tik(okno);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
    EXPECT_EQ(TextPopisku(&okno, 33 + 7), "1");
}

TEST_F(Vstupy, RealTimerPollsUntilCancel) {
    NastavVstupy(0x00000100);
    TForm11 okno;
    Ukaz(okno);
    ASSERT_TRUE(QTest::qWaitFor([&] { return TextPopisku(&okno, 33 + 8) == "1"; }, 5000));
    EXPECT_EQ(TextStavu(&okno), TextUspechu());

    Stiskni(&okno, "Button1");
    EXPECT_FALSE(okno.isVisible());
    EXPECT_FALSE(Prvek<QTimer>(&okno, "Timer1")->isActive());
}

}  // namespace
