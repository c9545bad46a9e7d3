// Buttons and close requests that arrive while a read or write sequence is
// running (the sequence lets pending window messages through between its
// exchanges): no second sequence inside the first, no close under it, and
// "Ok" or "Cancel" carried out once it has ended.
#include "Citac619.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "OknoSModulem.h"

#include <QTest>
#include <QTimer>

namespace {

class Sekvence : public OknoSModulem {
protected:
    template <class T>
    std::unique_ptr<T> Otevri() {
        auto okno = std::make_unique<T>();
        okno->PData = &Data;
        okno->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(okno.get()));
        return okno;
    }

    // When the status shows `Text`, `Akce` runs from the window's own
    // message processing between two exchanges, as an operator's click would.
    void PriTextu(ZaznamStavu& Zaznam, TKonfiguracniOkno* Okno, const QString& Text, std::function<void()> Akce) {
        Zaznam.PriZmene = [this, Okno, Text, Akce](const QString& text) {
            if (!text.endsWith(Text)) return;
            QTimer::singleShot(0, Okno, [this, Okno, Akce] {
                BehemSekvence = Okno->Probiha();
                Akce();
            });
        };
    }

    bool BehemSekvence = false;
};

TEST_F(Sekvence, ReadAndWriteClickedDuringAReadStartNothing) {
    auto okno = Otevri<TForm14>();
    ZaznamStavu zaznam(okno.get());
    PriTextu(zaznam, okno.get(), "(50 %)", [&] {
        Klikni(okno.get(), "Button2");
        Klikni(okno.get(), "Button1");
    });
    Emu->command("clear log");
    Klikni(okno.get(), "Button2");

    EXPECT_TRUE(BehemSekvence);
    EXPECT_FALSE(okno->Probiha());
    EXPECT_EQ(Log().size(), 12u);
    for (const auto& radek : Log()) EXPECT_EQ(radek.substr(0, 4), "102 ");
    EXPECT_EQ(zaznam.Texty, Prubeh(false, {8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));
}

TEST_F(Sekvence, CancelDuringAWriteTakesEffectWhenTheWriteHasEnded) {
    auto okno = Otevri<TForm5>();
    Napis(okno.get(), "Edit4", "999");
    ZaznamStavu zaznam(okno.get());
    PriTextu(zaznam, okno.get(), "(25 %)", [&] { Klikni(okno.get(), "Button4"); });
    Klikni(okno.get(), "Button1");

    EXPECT_TRUE(BehemSekvence);
    EXPECT_EQ(zaznam.Texty.back(), " Konfigurace zapsána.");
    EXPECT_EQ(Registr(6) + 256 * Registr(7), 999u);
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(okno->result(), QDialog::Rejected);
    EXPECT_EQ(Data.Konfigurace.ImpulsniCislo[3], 1);
}

TEST_F(Sekvence, CloseBoxAndEscapeDuringAReadWaitForItsEnd) {
    for (int zpusob = 0; zpusob < 2; ++zpusob) {
        NastavRegistr(0x3F, static_cast<uint8_t>(50 + zpusob));
        auto okno = Otevri<TForm12>();
        ZaznamStavu zaznam(okno.get());
        bool videt = false;
        PriTextu(zaznam, okno.get(), "(50 %)", [&] {
            if (zpusob == 0) okno->close();
            else QTest::keyClick(okno.get(), Qt::Key_Escape);
            videt = okno->isVisible();
        });
        Klikni(okno.get(), "Button2");

        EXPECT_TRUE(BehemSekvence);
        EXPECT_TRUE(videt) << zpusob;
        EXPECT_EQ(zaznam.Texty.back(), " Konfigurace přečtena.");
        EXPECT_EQ(TextEditu(okno.get(), "Edit1"), QString::number(50 + zpusob));
        EXPECT_FALSE(okno->isVisible()) << zpusob;
        EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
    }
}

TEST_F(Sekvence, OkDuringAWriteStoresTheOperatorsValuesAfterIt) {
    auto okno = Otevri<TForm12>();
    Napis(okno.get(), "Edit1", "123");
    ZaznamStavu zaznam(okno.get());
    PriTextu(zaznam, okno.get(), "(50 %)", [&] { Klikni(okno.get(), "Button3"); });
    Klikni(okno.get(), "Button1");

    EXPECT_TRUE(BehemSekvence);
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
    ZaznamStavu zaznam(okno.get());
    PriTextu(zaznam, okno.get(), "(50 %)", [&] { Klikni(okno.get(), "Button3"); });
    Klikni(okno.get(), "Button2");
    EXPECT_TRUE(BehemSekvence);
    EXPECT_FALSE(okno->isVisible());
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 88);
    EXPECT_EQ(Data.Konfigurace.UlozenaRychlost, 1);
}

TEST_F(Sekvence, ModalRunEndsOnlyAfterTheSequence) {
    NastavRegistr(0x3F, 66);
    TForm12 okno;
    okno.PData = &Data;
    ZaznamStavu zaznam(&okno);
    PriTextu(zaznam, &okno, "(50 %)", [&] { Klikni(&okno, "Button4"); });
    // A timer, not a posted call: Qt does not deliver posted events from
    // inside the handling of another posted event.
    QTimer::singleShot(1, &okno, [&] { Klikni(&okno, "Button2"); });
    const int vysledek = okno.exec();

    EXPECT_EQ(vysledek, QDialog::Rejected);
    EXPECT_TRUE(BehemSekvence) << zaznam.Texty.join("|").toStdString();
    EXPECT_EQ(zaznam.Texty.back(), " Konfigurace přečtena.");
    EXPECT_EQ(Data.Konfigurace.UlozenaAdresa, 1);
}

}  // namespace
