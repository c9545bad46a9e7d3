#include "OkamDOUT.h"
#include "ZiveOkno.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <initializer_list>

namespace {

class Vystupy : public ZiveOkno {
protected:
    void Zaskrtni(QWidget* Okno, std::initializer_list<int> Vystupy) {
        for (int n : Vystupy) {
            auto* box = Prvek<QCheckBox>(Okno, QString("CheckBox%1").arg(n + 1));
            ASSERT_NE(box, nullptr);
            if (!box->isChecked()) QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
            ASSERT_TRUE(box->isChecked()) << "DOUT" << n;
        }
    }
    void Zapis(QWidget* Okno) {
        QTest::mouseClick(Prvek<QPushButton>(Okno, "Button1"), Qt::LeftButton);
        kvtest::DokonciPraci();
    }
};

TEST_F(Vystupy, WindowAsDesigned) {
    TForm9 okno;
    OverOkno(&okno, "Form9", "Zápis na digitální výstupy");
    EXPECT_EQ(okno.AdresaModulu, 0);
    EXPECT_EQ(okno.findChild<QTimer*>(), nullptr) << "writes only, never polls";
    EXPECT_EQ(Prvek<QPushButton>(&okno, "Button1")->text(), "Zapsat");
    EXPECT_EQ(Prvek<QPushButton>(&okno, "Button2")->text(), "Cancel");

    QWidget* predchozi = nullptr;
    for (int n = 0; n < 32; ++n) {
        auto* box = Prvek<QCheckBox>(&okno, QString("CheckBox%1").arg(n + 1));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString("DOUT%1").arg(n));
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(box->isTristate());
        if (predchozi) {
            EXPECT_EQ(predchozi->nextInFocusChain(), box) << "tab order at DOUT" << n;
        }
        predchozi = box;
    }
    EXPECT_EQ(predchozi->nextInFocusChain(), okno.findChild<QPushButton*>("Button1"));
    EXPECT_EQ(okno.findChild<QPushButton*>("Button1")->nextInFocusChain(),
              okno.findChild<QPushButton*>("Button2"));
}

TEST_F(Vystupy, CheckBoxesBecomeTheModulesOutputs) {
    TForm9 okno;
    Ukaz(okno);
    EXPECT_EQ(okno.AdresaModulu, 1);

    Zaskrtni(&okno, {31});
    Zapis(&okno);
    EXPECT_EQ(Emu->value("get outputs"), 0x80000000U);
    EXPECT_EQ(Posledni(), "1 64 0 0 0 0 128");
    EXPECT_EQ(TextStavu(&okno), " Data zapsána");

    QTest::mouseClick(okno.findChild<QCheckBox*>("CheckBox32"), Qt::LeftButton);
    Zaskrtni(&okno, {0, 8});
    Zapis(&okno);
    EXPECT_EQ(Emu->value("get outputs"), 0x00000101U);
    EXPECT_EQ(Posledni(), "1 64 0 1 1 0 0");

    Zaskrtni(&okno, {7, 16, 23, 24});
    Zapis(&okno);
    EXPECT_EQ(Emu->value("get outputs"), 0x01810181U);
}

TEST_F(Vystupy, NewWindowStartsUncheckedAndWritesZeros) {
    {
        TForm9 prvni;
        Ukaz(prvni);
        Zaskrtni(&prvni, {1, 2, 3});
        Zapis(&prvni);
        ASSERT_EQ(Emu->value("get outputs"), 0x0EU);
    }
    TForm9 okno;
    Ukaz(okno);
    for (int n = 1; n <= 32; ++n) EXPECT_FALSE(okno.findChild<QCheckBox*>(QString("CheckBox%1").arg(n))->isChecked());
    Zapis(&okno);
    EXPECT_EQ(Emu->value("get outputs"), 0U);
    EXPECT_EQ(Posledni(), "1 64 0 0 0 0 0");
    EXPECT_EQ(TextStavu(&okno), " Data zapsána");
}

TEST_F(Vystupy, RefusedWriteShowsTheErrorAndKeepsTheBoxes) {
    TForm9 okno;
    Ukaz(okno);
    Zaskrtni(&okno, {5});
    ASSERT_EQ(Emu->command("fault refuse 1 64 1"), "ok");
    Zapis(&okno);
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(Odmitnuto));
    EXPECT_TRUE(okno.findChild<QCheckBox*>("CheckBox6")->isChecked());
    EXPECT_EQ(Emu->value("get outputs"), 0U);

    Zapis(&okno);  // the same states go out again
    EXPECT_EQ(Emu->value("get outputs"), 0x20U);
    EXPECT_EQ(TextStavu(&okno), " Data zapsána");
}

TEST_F(Vystupy, NotConnectedSendsNothing) {
    TForm9 okno;
    Ukaz(okno);
    Zaskrtni(&okno, {0});
    const uint32_t pred = Pozadavky();
    Data.Pripojeno = 0;
    Zapis(&okno);
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(Pozadavky(), pred);
    EXPECT_EQ(Emu->value("get outputs"), 0U);

    TForm9 bezZaznamu;
    bezZaznamu.show();
    Zapis(&bezZaznamu);
    EXPECT_EQ(TextStavu(&bezZaznamu), "");
    EXPECT_EQ(Pozadavky(), pred);
}

TEST_F(Vystupy, CancelClosesWithoutSending) {
    TForm9 okno;
    Ukaz(okno);
    Zaskrtni(&okno, {4});
    const uint32_t pred = Pozadavky();
    Stiskni(&okno, "Button2");
    EXPECT_FALSE(okno.isVisible());
    EXPECT_EQ(Pozadavky(), pred);
}

}  // namespace
