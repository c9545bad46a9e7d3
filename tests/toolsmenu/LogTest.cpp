// The log window: one line per poll in the file, exactly as kv618 watch
// writes it (CSV and JSON lines), the file's size and its last line's time
// shown; a write that fails leaves no half line and stops the log.
#include "LogWindow.h"
#include "NaLince.h"
#include "TestFiles.h"

#include "StatusBar.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>

namespace {

using kvtest::DokonciPraci;

class WatchLog : public kvtest::NaLince {
protected:
    void SetUp() override {
        NaLince::SetUp();
        // Values that stay while both the window and kv618 read them.
        ASSERT_EQ(Emu->command("set inputs 0x8000A5A5"), "ok");
        ASSERT_EQ(Emu->command("set status 0x41"), "ok");
        ASSERT_EQ(Emu->command("set counter 3 1234"), "ok");
    }

    // Starts the log into `Cesta` with the window's choices, then polls by hand.
    void Spust(LogWindow& Okno, const std::string& Cesta, int Co = 0, int Format = 0) {
        Okno.PData = &Data;
        Ukaz(Okno);
        Napis(Okno.FileField, QString::fromStdString(Cesta));
        Okno.What->setCurrentIndex(Co);
        Okno.Format->setCurrentIndex(Format);
        Klikni(Okno.StartButton);
        Okno.Ticks->stop();
    }
    static void Tik(LogWindow& Okno, int Kolikrat = 1) {
        for (int i = 0; i < Kolikrat; ++i) {
            Okno.TicksTimer();
            DokonciPraci();
        }
    }
};

std::vector<std::string> Radky(const std::string& Text) {
    std::vector<std::string> radky;
    std::istringstream vstup(Text);
    for (std::string radek; std::getline(vstup, radek);) radky.push_back(radek);
    return radky;
}

// A CSV line without its time, a JSON line without its "time" member.
std::string BezCasu(const std::string& Radek) {
    if (Radek.rfind("{\"time\":", 0) == 0) return Radek.substr(Radek.find(',', 9));
    return Radek.substr(Radek.find(','));
}

TEST_F(WatchLog, TheCsvFileIsWhatKv618WatchWritesLineForLine) {
    const std::string cesta = Soubor("log.csv");
    LogWindow okno;
    Spust(okno, cesta);
    EXPECT_TRUE(okno.Logging());
    EXPECT_EQ(okno.Interval->value(), 1000) << "kv618 watch's interval";
    Tik(okno, 2);  // and the first poll at the start
    EXPECT_EQ(okno.Lines(), 3u);
    Klikni(okno.StartButton);
    EXPECT_FALSE(okno.Logging());
    EXPECT_EQ(okno.StatusBar1->Text(1), " Záznam zastaven. V souboru je 3 měření.");

    const auto [stav, kv618] = Kv618(1, "watch all --count 3 --interval 10 --format csv");
    ASSERT_EQ(stav, 0) << kv618;
    const auto okna = Radky(kvtest::ReadFile(cesta));
    const auto nastroje = Radky(kv618);
    ASSERT_EQ(okna.size(), 4u);
    ASSERT_EQ(nastroje.size(), 4u);
    EXPECT_EQ(okna[0], nastroje[0]);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(BezCasu(okna[i]), BezCasu(nastroje[i])) << i;
        EXPECT_EQ(okna[i].find(','), nastroje[i].find(',')) << "a time of the same form";
    }
    // The inputs as the module reads them: negated unless set otherwise.
    EXPECT_NE(okna[1].find("," + std::to_string(Emu->value("get inputs")) + ",65,"), std::string::npos) << okna[1];
}

TEST_F(WatchLog, JsonLinesAndOneGroupAsKv618WatchWritesThem) {
    const std::string cesta = Soubor("log.jsonl");
    LogWindow okno;
    Spust(okno, cesta, 2, 1);  // the counters, JSON
    Tik(okno);
    okno.close();
    EXPECT_FALSE(okno.Logging()) << "closing the window ends the log";
    const auto [stav, kv618] = Kv618(1, "watch counters --count 1 --format json");
    ASSERT_EQ(stav, 0) << kv618;
    const auto okna = Radky(kvtest::ReadFile(cesta));
    ASSERT_EQ(okna.size(), 2u);
    EXPECT_EQ(BezCasu(okna[0]), BezCasu(Radky(kv618).at(0)));
    EXPECT_EQ(BezCasu(okna[1]), BezCasu(Radky(kv618).at(0)));

    const std::string vstupy = Soubor("inputs.csv");
    LogWindow druhe;
    Spust(druhe, vstupy, 1);
    druhe.close();
    EXPECT_EQ(Radky(kvtest::ReadFile(vstupy)).at(0), "time,inputs");
}

TEST_F(WatchLog, ShowsTheFilesSizeAndTheTimeOfItsLastLine) {
    const std::string cesta = Soubor("log.csv");
    LogWindow okno;
    Spust(okno, cesta, 1);
    Tik(okno);
    const auto velikost = kvtest::ReadFile(cesta).size();
    EXPECT_EQ(okno.SizeLabel->text().remove(QChar(0xA0)).remove(' ').remove(','),
              QString::number(velikost) + "B");
    EXPECT_TRUE(QRegularExpression(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$)").match(okno.LastLineLabel->text()).hasMatch())
        << okno.LastLineLabel->text().toStdString();
    EXPECT_EQ(TextStavu(&okno), TextUspechu());
    // A poll that fails writes no line and says why; the log goes on.
    ASSERT_EQ(Emu->command("fault drop 100"), "ok");
    Tik(okno);
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(1));
    EXPECT_EQ(kvtest::ReadFile(cesta).size(), velikost);
    EXPECT_TRUE(okno.Logging());
}

TEST_F(WatchLog, AFailedWriteLeavesNoHalfLineStopsTheLogAndSaysWhy) {
    const std::string cesta = Soubor("log.csv");
    LogWindow okno;
    Spust(okno, cesta);
    const std::string jedenRadek = kvtest::ReadFile(cesta);  // header and the first poll
    const auto before = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{}, small{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    small = limit;
    small.rlim_cur = jedenRadek.size() + 40;  // the next line fits in part
    ::setrlimit(RLIMIT_FSIZE, &small);
    Tik(okno);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, before);
    EXPECT_EQ(kvtest::ReadFile(cesta), jedenRadek);
    EXPECT_FALSE(okno.Logging());
    EXPECT_TRUE(okno.StatusBar1->Text(1).contains(QString::fromStdString(cesta)));
    EXPECT_TRUE(okno.StatusBar1->Text(1).contains("soubor končí posledním celým řádkem"))
        << okno.StatusBar1->Text(1).toStdString();
    EXPECT_EQ(okno.StartButton->text(), "Spustit záznam");
}

TEST_F(WatchLog, AFileThatCannotBeMadeIsRefusedAndNothingIsAsked) {
    LogWindow okno;
    okno.PData = &Data;
    Ukaz(okno);
    SmazLog();
    Klikni(okno.StartButton);
    EXPECT_EQ(okno.StatusBar1->Text(1), " Zadejte jméno souboru.");
    Napis(okno.FileField, "/nonexistent/folder/log.csv");
    Klikni(okno.StartButton);
    EXPECT_FALSE(okno.Logging());
    EXPECT_TRUE(okno.StatusBar1->Text(1).contains("/nonexistent/folder/log.csv"));
    EXPECT_EQ(Pozadavky(), 0u);
}

}  // namespace
