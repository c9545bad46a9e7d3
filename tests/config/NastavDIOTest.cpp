// Digital input/output configuration window against the emulated module.
#include "NastavDIO.h"
#include "OknoSModulem.h"

#include <QGroupBox>
#include <QTest>

#include <array>

namespace {

// Registers of the transfer order: initial states, input negation, output negation.
constexpr std::array<uint8_t, 12> Poradi = {0x20, 0x23, 0x26, 0x29, 0x21, 0x24, 0x27, 0x2A, 0x22, 0x25, 0x28, 0x2B};
const std::vector<int> Procenta = {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100};

class NastavDIO : public OknoSModulem {
protected:
    std::unique_ptr<TForm14> Otevri() { return OknoSModulem::Otevri<TForm14>(); }
    static void Zaskrtni(QWidget* Okno, int Box, bool Stav) {
        auto* box = Prvek<QCheckBox>(Okno, QString("CheckBox%1").arg(Box));
        ASSERT_NE(box, nullptr);
        if (box->isChecked() != Stav) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        ASSERT_EQ(box->isChecked(), Stav);
    }
    static void ZaskrtniVse(QWidget* Okno, bool Stav) {
        for (int box = 1; box <= 96; ++box) Zaskrtni(Okno, box, Stav);
    }
};

TEST_F(NastavDIO, DesignHasThreeGroupsOfTwoColumnsWithAGapAfterEachByte) {
    auto okno = Otevri();
    EXPECT_EQ(okno->objectName(), "Form14");
    EXPECT_EQ(okno->windowTitle(), "Nastavení digitálních vstupů/výstupů");
    EXPECT_EQ(okno->size(), QSize(526, 398));
    const QStringList titulky = {" Negace DIN ", "Negace DOUT ", " Počáteční stav DOUT "};
    const QStringList predpony = {"DIN", "DOUT", "DOUT"};
    int predchoziX = -1;
    for (int skupina = 0; skupina < 3; ++skupina) {
        auto* ramec = Prvek<QGroupBox>(okno.get(), QString("GroupBox%1").arg(skupina + 1));
        ASSERT_NE(ramec, nullptr);
        EXPECT_EQ(ramec->title(), titulky[skupina]);
        EXPECT_GT(ramec->x(), predchoziX);
        predchoziX = ramec->x();
        std::vector<QCheckBox*> boxy;
        for (int kanal = 0; kanal < 32; ++kanal) {
            auto* box = Prvek<QCheckBox>(okno.get(), QString("CheckBox%1").arg(skupina * 32 + kanal + 1));
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->parentWidget(), ramec);
            EXPECT_EQ(box->text(), predpony[skupina] + QString::number(kanal));
            boxy.push_back(box);
        }
        const int krok = boxy[1]->y() - boxy[0]->y();
        for (int kanal = 1; kanal < 32; ++kanal) {
            if (kanal == 16) {
                EXPECT_GT(boxy[16]->x(), boxy[0]->x());
                EXPECT_EQ(boxy[16]->y(), boxy[0]->y());
                continue;
            }
            const int mezera = boxy[static_cast<size_t>(kanal)]->y() - boxy[static_cast<size_t>(kanal - 1)]->y();
            EXPECT_EQ(boxy[static_cast<size_t>(kanal)]->x(), boxy[kanal < 16 ? 0 : 16]->x());
            if (kanal % 16 == 8) EXPECT_GT(mezera, krok) << kanal;
            else EXPECT_EQ(mezera, krok) << kanal;
        }
    }
}

TEST_F(NastavDIO, OpensWithAllNegationsCheckedAndInitialStatesClear) {
    auto okno = Otevri();
    for (int box = 1; box <= 64; ++box) EXPECT_TRUE(Zaskrtnuto(okno.get(), box)) << box;
    for (int box = 65; box <= 96; ++box) EXPECT_FALSE(Zaskrtnuto(okno.get(), box)) << box;
    EXPECT_EQ(TextStavu(okno.get()), " ");
}

TEST_F(NastavDIO, BoxesMapToBitsOfTheirBytes) {
    auto okno = Otevri();
    ZaskrtniVse(okno.get(), false);
    Zaskrtni(okno.get(), 1, true);    // DIN0
    Zaskrtni(okno.get(), 32, true);   // DIN31
    Zaskrtni(okno.get(), 33 + 17, true);  // DOUT17 negated
    Zaskrtni(okno.get(), 65 + 8, true);   // DOUT8 starts at 1
    Klikni(okno.get(), "Button3");
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(std::vector<uint8_t>(Data.Konfigurace.NegaceDIN, Data.Konfigurace.NegaceDIN + 4),
              (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x80}));
    EXPECT_EQ(std::vector<uint8_t>(Data.Konfigurace.NegaceDOUT, Data.Konfigurace.NegaceDOUT + 4),
              (std::vector<uint8_t>{0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(Data.Konfigurace.PocatecniDOUT, Data.Konfigurace.PocatecniDOUT + 4),
              (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00}));

    // And back: the record shown in the boxes.
    auto druhe = Otevri();
    for (int box = 1; box <= 96; ++box) {
        const bool ocekavano = box == 1 || box == 32 || box == 50 || box == 73;
        EXPECT_EQ(Zaskrtnuto(druhe.get(), box), ocekavano) << box;
    }
}

TEST_F(NastavDIO, ReadFillsTheBoxesInTransferOrder) {
    // Every register gets a byte of its own so that a swapped register shows.
    for (size_t i = 0; i < Poradi.size(); ++i) NastavRegistr(Poradi[i], static_cast<uint8_t>(1u << (i % 8)));
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button2");

    EXPECT_EQ(zaznam.Texty, Prubeh(false, Procenta));
    std::vector<std::string> ocekavany;
    for (uint8_t r : Poradi) ocekavany.push_back(RadekLogu(102, 0, 0, r, r, 0, 0));
    EXPECT_EQ(Log(), ocekavany);

    const int prvniBox[3] = {65, 1, 33};  // PocatecniDOUT, NegaceDIN, NegaceDOUT
    for (size_t i = 0; i < Poradi.size(); ++i) {
        const int pole = static_cast<int>(i / 4), bajt = static_cast<int>(i % 4);
        for (int bit = 0; bit < 8; ++bit) {
            const int box = prvniBox[pole] + bajt * 8 + bit;
            EXPECT_EQ(Zaskrtnuto(okno.get(), box), bit == static_cast<int>(i % 8)) << box;
        }
    }
    EXPECT_EQ(Data.Konfigurace.NegaceDIN[0], 0xFF);

    Klikni(okno.get(), "Button3");
    EXPECT_EQ(Data.Konfigurace.PocatecniDOUT[1], 0x02);
    EXPECT_EQ(Data.Konfigurace.NegaceDIN[0], 0x10);
    EXPECT_EQ(Data.Konfigurace.NegaceDOUT[3], 0x08);
}

TEST_F(NastavDIO, WriteSendsTwelveVerifiedBytesInTransferOrder) {
    auto okno = Otevri();
    ZaskrtniVse(okno.get(), false);
    Zaskrtni(okno.get(), 1, true);
    Zaskrtni(okno.get(), 32, true);
    Zaskrtni(okno.get(), 65 + 8, true);
    Zaskrtni(okno.get(), 33 + 31, true);
    ZaznamStavu zaznam(okno.get());
    SmazLog();
    Klikni(okno.get(), "Button1");

    EXPECT_EQ(zaznam.Texty, QStringList({" "}) + Prubeh(true, Procenta));
    const std::array<uint8_t, 12> bajty = {0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x80};
    std::vector<std::string> ocekavany;
    for (size_t i = 0; i < Poradi.size(); ++i) {
        ocekavany.push_back(RadekLogu(103, 0, 0, Poradi[i], Poradi[i], bajty[i], bajty[i]));
        ocekavany.push_back(RadekLogu(102, 0, 0, Poradi[i], Poradi[i], 0, 0));
        EXPECT_EQ(Registr(Poradi[i]), bajty[i]) << int(Poradi[i]);
    }
    EXPECT_EQ(Log(), ocekavany);
    EXPECT_EQ(Data.Konfigurace.NegaceDIN[0], 0xFF);
    EXPECT_EQ(Data.Adresa, 1);
    EXPECT_EQ(Data.Rychlost, 9600);
}

TEST_F(NastavDIO, ReadErrorOnTheFifthStepKeepsTheInitialStatesJustRead) {
    for (uint8_t r : Poradi) NastavRegistr(r, 0x0F);
    auto okno = Otevri();
    ZaznamStavu zaznam(okno.get());
    // The fifth step, after the four initial states (33 %).
    PoruchaRegistru(0x21);
    Klikni(okno.get(), "Button2");

    EXPECT_TRUE(JeTextChyby(TextStavu(okno.get()))) << TextStavu(okno.get()).toStdString();
    for (int kanal = 0; kanal < 32; ++kanal) {
        EXPECT_EQ(Zaskrtnuto(okno.get(), 65 + kanal), kanal % 8 < 4) << kanal;
        EXPECT_TRUE(Zaskrtnuto(okno.get(), 1 + kanal));
        EXPECT_TRUE(Zaskrtnuto(okno.get(), 33 + kanal));
    }
    Klikni(okno.get(), "Button4");
    EXPECT_EQ(Data.Konfigurace.PocatecniDOUT[0], 0);
}

TEST_F(NastavDIO, ReadBackMismatchOnTheFirstStepTouchesNoNegationRegister) {
    for (uint8_t r : Poradi) NastavRegistr(r, 0x55);
    auto okno = Otevri();
    Zaskrtni(okno.get(), 65, true);
    EXPECT_EQ(Emu->command("fault readback 32"), "ok");
    SmazLog();
    Klikni(okno.get(), "Button1");

    EXPECT_EQ(TextStavu(okno.get()), " Chyba zápisu dat.");
    EXPECT_EQ(Log().size(), 2u);
    EXPECT_EQ(Registr(0x20), 0x01u);
    for (size_t i = 1; i < Poradi.size(); ++i) EXPECT_EQ(Registr(Poradi[i]), 0x55u);
}

TEST_F(NastavDIO, ReadBackMismatchLaterKeepsEarlierRegistersWritten) {
    auto okno = Otevri();
    ZaskrtniVse(okno.get(), true);
    EXPECT_EQ(Emu->command("fault readback 0x24"), "ok");
    Klikni(okno.get(), "Button1");
    EXPECT_EQ(TextStavu(okno.get()), " Chyba zápisu dat.");
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(Registr(Poradi[i]), 0xFFu);
}

TEST_F(NastavDIO, OkAfterReadStoresCancelDoesNot) {
    for (uint8_t r : Poradi) NastavRegistr(r, 0xA5);
    {
        auto okno = Otevri();
        Klikni(okno.get(), "Button2");
        Klikni(okno.get(), "Button4");
        EXPECT_FALSE(okno->isVisible());
    }
    EXPECT_EQ(Data.Konfigurace.NegaceDIN[2], 0xFF);
    EXPECT_EQ(Data.Konfigurace.PocatecniDOUT[2], 0x00);
    auto okno = Otevri();
    Klikni(okno.get(), "Button2");
    Klikni(okno.get(), "Button3");
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Data.Konfigurace.NegaceDIN[i], 0xA5);
        EXPECT_EQ(Data.Konfigurace.NegaceDOUT[i], 0xA5);
        EXPECT_EQ(Data.Konfigurace.PocatecniDOUT[i], 0xA5);
    }
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
}

TEST_F(NastavDIO, NothingIsSentWithoutAnInitialisedLink) {
    auto okno = Otevri();
    NicBezSpojeni(okno.get());
}

}  // namespace
