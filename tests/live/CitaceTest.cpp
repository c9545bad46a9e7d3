#include "OkamCNT.h"
#include "ZiveOkno.h"

#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>
#include <sstream>

namespace {

// Sub-code and value label of each quantity in reading order.
constexpr std::array<int, 20> Podfunkce = {0x50, 0x51, 0x52, 0x53, 0x80, 0x81, 0x82, 0x83, 0x88, 0x89,
                                           0x8A, 0x8B, 0x84, 0x85, 0x86, 0x87, 0x9C, 0x9D, 0x9E, 0x9F};
constexpr std::array<int, 20> Popisky = {5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                         15, 16, 17, 18, 19, 20, 26, 27, 28, 29};

class Citace : public ZiveOkno {
protected:
    void NastavVelicinu(int Sub, uint32_t Hodnota) {
        ASSERT_EQ(Emu->command("set quantity " + std::to_string(Sub) + " " + std::to_string(Hodnota)), "ok");
    }
    // Counter c counts Krat * (c + 1).
    void NastavCitace(uint32_t Krat) {
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(Emu->command("set counter " + std::to_string(c) + " " + std::to_string(Krat * (c + 1))), "ok");
        }
    }
    int PosledniPodfunkce() {
        std::istringstream radek(Posledni());
        int funkce = -1, sub = -1;
        radek >> funkce >> sub;
        EXPECT_EQ(funkce, 0);
        return sub;
    }
    std::array<QString, 20> Hodnoty(QWidget* Okno) {
        std::array<QString, 20> texty;
        for (size_t k = 0; k < texty.size(); ++k) texty[k] = TextPopisku(Okno, Popisky[k]);
        return texty;
    }
};

TEST_F(Citace, WindowAsDesigned) {
    TForm6 okno;
    OverOkno(&okno, "Form6", "Okamžité hodnoty čítačů");
    EXPECT_GE(okno.width(), 584);
    EXPECT_GE(okno.height(), 223);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(TextPopisku(&okno, c + 1), QString("Čítač %1").arg(c));
    const char* nadpisy[] = {"Počet pulsů", "Odběr", "Perioda [ms]", "Výkon", "Výkon 10s"};
    for (int s = 0; s < 5; ++s) EXPECT_EQ(TextPopisku(&okno, 21 + s), QString::fromUtf8(nadpisy[s]));
    for (size_t k = 0; k < Popisky.size(); ++k) {
        auto* hodnota = Prvek<QLabel>(&okno, QString("Label%1").arg(Popisky[k]));
        ASSERT_NE(hodnota, nullptr);
        EXPECT_EQ(hodnota->parentWidget()->objectName(), QString("Panel%1").arg(k / 4 + 1)) << k;
    }
    OverPanely(&okno, 5);
    EXPECT_EQ(Prvek<QPushButton>(&okno, "Button1")->text(), "Nulovat");
    EXPECT_EQ(Prvek<QPushButton>(&okno, "Button2")->text(), "Cancel");

    OverCasovac(&okno, false, 100);  // off until shown
    Ukaz(okno);
    auto* casovac = Prvek<QTimer>(&okno, "Timer1");
    EXPECT_TRUE(casovac->isActive());
    EXPECT_EQ(okno.AdresaModulu, 1);
    EXPECT_EQ(okno.Krok, 0);

    Stiskni(&okno, "Button2");
    EXPECT_FALSE(casovac->isActive());
    EXPECT_FALSE(okno.isVisible());
}

TEST_F(Citace, TwentyQuantitiesLandInCycleOrder) {
    for (size_t k = 0; k < Podfunkce.size(); ++k) NastavVelicinu(Podfunkce[k], 1000 + static_cast<uint32_t>(k));
    TForm6 okno;
    UkazBezCasovace(okno);

    for (size_t k = 0; k < Podfunkce.size(); ++k) {
        const auto pred = Hodnoty(&okno);
        Tik(okno);
        EXPECT_EQ(PosledniPodfunkce(), Podfunkce[k]) << "quantity " << k;
        const auto po = Hodnoty(&okno);
        for (size_t j = 0; j < po.size(); ++j) {
            if (j == k) {
                EXPECT_EQ(po[j], QString::number(1000 + k)) << "Label" << Popisky[j];
            } else {
                EXPECT_EQ(po[j], pred[j]) << "Label" << Popisky[j] << " changed at quantity " << k;
            }
        }
        EXPECT_EQ(TextStavu(&okno), TextUspechu());
    }
    EXPECT_EQ(okno.Krok, 0) << "after the last quantity the first again";
    Tik(okno);
    EXPECT_EQ(PosledniPodfunkce(), 0x50);
}

TEST_F(Citace, ValuesAreUnsigned32BitDecimals) {
    NastavVelicinu(0x50, 0xFFFFFFFF);
    NastavVelicinu(0x51, 0x04030201);
    NastavVelicinu(0x52, 0x80000000);
    TForm6 okno;
    UkazBezCasovace(okno);
    for (int i = 0; i < 3; ++i) Tik(okno);
    EXPECT_EQ(TextPopisku(&okno, 5), "4294967295");
    EXPECT_EQ(TextPopisku(&okno, 6), "67305985");
    EXPECT_EQ(TextPopisku(&okno, 7), "2147483648");
}

TEST_F(Citace, ReplyStatusByteHasNoEffect) {
    ASSERT_EQ(Emu->command("set status 255"), "ok");
    NastavVelicinu(0x50, 4242);
    TForm6 okno;
    UkazBezCasovace(okno);
    Tik(okno);
    EXPECT_EQ(TextPopisku(&okno, 5), "4242");
    EXPECT_EQ(okno.Krok, 1);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
}

TEST_F(Citace, FailingQuantityHoldsTheCycle) {
    for (size_t k = 0; k < Podfunkce.size(); ++k) NastavVelicinu(Podfunkce[k], 500 + static_cast<uint32_t>(k));
    TForm6 okno;
    UkazBezCasovace(okno);
    Tik(okno);
    Tik(okno);
    ASSERT_EQ(okno.Krok, 2);

    ASSERT_EQ(Emu->command("fault refuse 0 0x52"), "ok");
    const auto pred = Hodnoty(&okno);
    for (int i = 0; i < 4; ++i) {
        Tik(okno);
        EXPECT_EQ(PosledniPodfunkce(), 0x52);
        EXPECT_EQ(okno.Krok, 2);
        EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    }
    EXPECT_EQ(Hodnoty(&okno), pred);

    ASSERT_EQ(Emu->command("fault clear"), "ok");
    Tik(okno);
    EXPECT_EQ(TextPopisku(&okno, 7), "502");
    EXPECT_EQ(okno.Krok, 3);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
    Tik(okno);
    EXPECT_EQ(PosledniPodfunkce(), 0x53);
}

TEST_F(Citace, NotConnectedKeepsKrokAndSendsNothing) {
    NastavVelicinu(0x50, 7);
    TForm6 okno;
    UkazBezCasovace(okno);
    Tik(okno);
    ASSERT_EQ(okno.Krok, 1);
    const uint32_t pred = Pozadavky();
    Data.Pripojeno = 0;
    Tik(okno);
    Tik(okno);
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(okno.Krok, 1);
    EXPECT_EQ(Pozadavky(), pred);

    Stiskni(&okno, "Button1");
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
}

TEST_F(Citace, ResetClearsAllFourCounters) {
    NastavCitace(100);
    TForm6 okno;
    UkazBezCasovace(okno);
    SmazLog();
    Stiskni(&okno, "Button1");
    EXPECT_EQ(TextStavu(&okno), " Čítače vynulovány");
    for (int c = 0; c < 4; ++c) EXPECT_EQ(Emu->value("get counter " + std::to_string(c)), 0U) << c;
    EXPECT_EQ(Emu->command("get log"), "1 80 0 0 0 0 0;1 81 0 0 0 0 0;1 82 0 0 0 0 0;1 83 0 0 0 0 0");
    EXPECT_TRUE(okno.findChild<QTimer*>("Timer1")->isActive()) << "polling resumes";
}

TEST_F(Citace, ResetStopsAtTheFirstFailure) {
    NastavCitace(11);
    TForm6 okno;
    UkazBezCasovace(okno);
    ASSERT_EQ(Emu->command("fault refuse 1 0x52"), "ok");
    SmazLog();
    Stiskni(&okno, "Button1");

    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    EXPECT_EQ(Emu->value("get counter 0"), 0U);
    EXPECT_EQ(Emu->value("get counter 1"), 0U);
    EXPECT_EQ(Emu->value("get counter 2"), 33U);
    EXPECT_EQ(Emu->value("get counter 3"), 44U);
    EXPECT_EQ(Emu->command("get log"), "1 80 0 0 0 0 0;1 81 0 0 0 0 0;1 82 0 0 0 0 0");
    EXPECT_TRUE(okno.findChild<QTimer*>("Timer1")->isActive()) << "polling resumes";
}

TEST_F(Citace, ShowingAgainStartsFromTheFirstQuantity) {
    NastavVelicinu(0x50, 9);
    TForm6 okno;
    UkazBezCasovace(okno);
    Tik(okno);
    ASSERT_EQ(TextPopisku(&okno, 5), "9");
    okno.hide();
    okno.show();
    EXPECT_EQ(okno.Krok, 0);
    EXPECT_EQ(TextPopisku(&okno, 5), "0");
    EXPECT_TRUE(okno.findChild<QTimer*>("Timer1")->isActive());
}

TEST_F(Citace, RealTimerWalksTheCycle) {
    NastavVelicinu(0x9F, 123456);
    TForm6 okno;
    Ukaz(okno);
    ASSERT_TRUE(QTest::qWaitFor([&] { return TextPopisku(&okno, 29) == "123456"; }, 10000));
}

}  // namespace
