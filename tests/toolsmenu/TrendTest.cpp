// The trend window: a poll of the inputs, status register and counters at
// every tick, kept with its time; drawn as lanes and lines; kept across a
// module that falls silent; saved as a PNG and as kv618 watch's CSV.
#include "NaLince.h"
#include "TestFiles.h"
#include "TrendWindow.h"

#include "StatusBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <regex>

namespace {

using kvtest::DokonciPraci;

class Trend : public kvtest::NaLince {
protected:
    void Otevri(TrendWindow& Okno) {
        Okno.PData = &Data;
        Ukaz(Okno);
        Okno.findChild<QTimer*>("Timer1")->stop();  // ticked by hand
    }
    static void Tik(TrendWindow& Okno, int Kolikrat = 1) {
        for (int i = 0; i < Kolikrat; ++i) {
            Okno.Timer1Timer();
            DokonciPraci();
        }
    }
    static size_t Neuspesne(const TrendHistory& Historie) {
        size_t n = 0;
        for (const auto& e : Historie.Entries()) n += e.failed;
        return n;
    }
};

// "time,..." and each line without its time.
std::vector<std::string> BezCasu(const std::string& Text) {
    std::vector<std::string> radky;
    std::istringstream vstup(Text);
    for (std::string radek; std::getline(vstup, radek);) radky.push_back(radek.substr(radek.find(',')));
    return radky;
}

TEST_F(Trend, PollsAtTheLiveWindowsPeriodAndKeepsEveryPollWithItsValues) {
    TrendWindow okno;
    okno.PData = &Data;
    Ukaz(okno);
    auto* casovac = okno.findChild<QTimer*>("Timer1");
    EXPECT_TRUE(casovac->isActive());
    EXPECT_EQ(casovac->interval(), 100);
    EXPECT_EQ(okno.Span->currentText(), "10 min");
    casovac->stop();
    ASSERT_EQ(Emu->command("set inputs 0x0000A5A5"), "ok");
    ASSERT_EQ(Emu->command("set counter 2 7"), "ok");
    const uint32_t vstupy = Emu->value("get inputs");  // negated as the module stores it
    SmazLog();
    Tik(okno, 3);
    EXPECT_EQ(Pozadavky(), 3u * 22u) << "inputs, status and the twenty quantities each time";
    ASSERT_EQ(okno.History().Entries().size(), 3u);
    for (const auto& e : okno.History().Entries()) {
        EXPECT_FALSE(e.failed);
        EXPECT_EQ(e.sample.inputs, vstupy);
        EXPECT_EQ(e.sample.counters[2][0], 7u);
    }
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
    EXPECT_FALSE(okno.Chart->grab().toImage().isNull());
    EXPECT_GT(okno.Chart->Paints(), 0);

    okno.Interval->setValue(500);
    EXPECT_EQ(casovac->interval(), 500);
    okno.LineChoices[2 * 5 + 0]->setChecked(true);  // counter 2's pulses
    EXPECT_EQ(okno.Chart->Lines().size(), 3u);
}

TEST_F(Trend, KeepsItsHistoryAcrossASilentModuleAndGoesOnWhenItAnswers) {
    TrendWindow okno;
    Otevri(okno);
    const uint32_t predtim = Emu->value("get inputs");
    Tik(okno, 3);
    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    Tik(okno, 2);
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(1));
    ASSERT_EQ(Emu->command("fault clear"), "ok");
    ASSERT_EQ(Emu->command("set inputs 0xFF"), "ok");
    Tik(okno, 2);
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
    const auto& zaznamy = okno.History().Entries();
    ASSERT_EQ(zaznamy.size(), 7u);
    EXPECT_EQ(Neuspesne(okno.History()), 2u);
    EXPECT_TRUE(zaznamy[3].failed && zaznamy[4].failed);
    EXPECT_EQ(zaznamy[0].sample.inputs, predtim) << "what came before the silence stays";
    EXPECT_EQ(zaznamy[6].sample.inputs, Emu->value("get inputs"));
    EXPECT_NE(zaznamy[6].sample.inputs, predtim);
    for (size_t i = 1; i < zaznamy.size(); ++i) EXPECT_LE(zaznamy[i - 1].sample.when, zaznamy[i].sample.when);
    // The picture is painted with the gap in it.
    const QImage obraz = okno.Chart->grab().toImage();
    EXPECT_FALSE(obraz.isNull());
}

TEST_F(Trend, DataAreSavedAsKv618WatchAllWritesThemAndThePictureAsAPng) {
    ASSERT_EQ(Emu->command("set inputs 0x12345678"), "ok");
    ASSERT_EQ(Emu->command("set counter 1 42"), "ok");
    TrendWindow okno;
    Otevri(okno);
    Tik(okno, 2);
    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    Tik(okno);
    ASSERT_EQ(Emu->command("fault clear"), "ok");
    Tik(okno);

    const std::string data = Soubor("trend.csv");
    ASSERT_TRUE(okno.SavePicture(QString::fromStdString(Soubor("trend.png"))));
    ASSERT_TRUE(okno.SaveData(QString::fromStdString(data)));
    EXPECT_EQ(okno.StatusBar1->Text(1), QString::fromStdString(" Uloženo 3 měření do souboru " + data + "."));
    const auto [stav, kv618] = Kv618(1, "watch all --count 1 --format csv");
    ASSERT_EQ(stav, 0) << kv618;
    const auto okna = BezCasu(kvtest::ReadFile(data));
    const auto nastroje = BezCasu(kv618);
    ASSERT_EQ(okna.size(), 4u) << "the header and the three polls that succeeded";
    ASSERT_EQ(nastroje.size(), 2u);
    EXPECT_EQ(okna[0], nastroje[0]) << "the same header";
    for (size_t i = 1; i < okna.size(); ++i) EXPECT_EQ(okna[i], nastroje[1]) << i;
    const std::regex cas(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,.*)");
    std::istringstream radky(kvtest::ReadFile(data));
    std::string radek;
    std::getline(radky, radek);
    while (std::getline(radky, radek)) EXPECT_TRUE(std::regex_match(radek, cas)) << radek;

    const QImage obraz(QString::fromStdString(Soubor("trend.png")), "PNG");
    ASSERT_FALSE(obraz.isNull());
    EXPECT_EQ(obraz.size(), okno.Chart->size());
    EXPECT_FALSE(okno.SaveData("/nonexistent/folder/trend.csv"));
    EXPECT_TRUE(okno.StatusBar1->Text(1).contains("/nonexistent/folder/trend.csv")) << okno.StatusBar1->Text(1).toStdString();
}

TEST_F(Trend, PauseHoldsThePictureWhilePollsGoOnAndTheScrollBarGoesBack) {
    TrendWindow okno;
    Otevri(okno);
    Tik(okno);
    QTest::qWait(20);  // the scroll bar counts in milliseconds
    Tik(okno);
    EXPECT_TRUE(okno.Chart->Following());
    Klikni(okno.PauseButton);
    EXPECT_FALSE(okno.Chart->Following());
    EXPECT_EQ(okno.PauseButton->text(), "Pokračovat");
    const auto drzeno = okno.Chart->End();
    Tik(okno, 2);
    EXPECT_EQ(okno.History().Entries().size(), 4u) << "the polls go on";
    EXPECT_EQ(okno.Chart->End(), drzeno);
    Klikni(okno.PauseButton);
    EXPECT_TRUE(okno.Chart->Following());
    EXPECT_EQ(okno.Chart->End(), okno.History().Last());

    okno.Span->setCurrentIndex(0);
    EXPECT_EQ(okno.Chart->Span(), std::chrono::seconds(60));
    okno.Scroll->setValue(okno.Scroll->minimum());
    EXPECT_FALSE(okno.Chart->Following());
    okno.Scroll->setValue(okno.Scroll->maximum());
    EXPECT_TRUE(okno.Chart->Following());
}

TEST_F(Trend, ClosingWithAPollOutActsAtOnce) {
    TrendWindow okno;
    Otevri(okno);
    Emu->freeze();
    okno.Timer1Timer();
    EXPECT_TRUE(okno.Polls.Venku());
    okno.close();
    EXPECT_FALSE(okno.isVisible());
    EXPECT_FALSE(okno.findChild<QTimer*>("Timer1")->isActive());
    Emu->thaw();
    DokonciPraci();
    EXPECT_TRUE(okno.History().Empty()) << "a poll that returns to a closed window is dropped";
}

}  // namespace
