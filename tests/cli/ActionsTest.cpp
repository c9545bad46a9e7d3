// kv618's commands on the module's live values as a process: watch, out,
// reset, clock and power-failures.
#include "Dekl.h"
#include "TestFiles.h"
#include "ToolFixture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using namespace clitest;
using kvtest::ReadFile;

// ISO 8601 local time with milliseconds and the UTC offset.
const std::regex Timestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");

// The computer's present UTC offset as ISO 8601 writes it: +01:00.
std::string LocalOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);
    return std::string(zone, 3) + ":" + std::string(zone + 3, 2);
}

TEST_F(Tool, WatchInCsvGivesAHeaderAndOneTimestampedLinePerPoll) {
    emulator.command("at 1 set inputs 0x0F");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "inputs", "--count", "3", "--interval", "20", "--format", "csv"});
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 4u) << watch.out;
    EXPECT_EQ(lines[0], "time,inputs");
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto comma = lines[i].find(',');
        EXPECT_TRUE(std::regex_match(lines[i].substr(0, comma), Timestamp)) << lines[i];
        EXPECT_EQ(lines[i].substr(comma + 1), std::to_string(0x0Fu ^ 0xFFFFFFFFu)) << "inputs come negated";
    }
}

TEST_F(Tool, WatchInJsonGivesOneObjectPerPoll) {
    emulator.command("at 1 set counter 2 77");
    emulator.command("at 1 set status 20");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "all", "--count", "2", "--interval", "20", "--format", "json"});
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 2u) << watch.out;
    const std::regex object(
        R"(\{"time":"[-0-9T:.+]{29}","inputs":4294967295,"status":20,"counters":\[(\{("[a-z0-9_]+":\d+,?){5}\},?){4}\]\})");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, object)) << line;
        EXPECT_NE(line.find(R"(,{"pulses":77,)"), std::string::npos) << "counter 2's pulses: " << line;
    }
}

// The stand-in serial library answers every request and journals its calls,
// so the end of a watch shows whether the link was closed with _Done.
TEST(Watch, CtrlCEndsCleanlyWithTheLinkClosed) {
    const std::string folder = ::testing::TempDir() + "/kv618-ctrl-c-" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto copy = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(clitest::ToolPath(), folder + "/kv618", copy);
    std::filesystem::copy_file(FAKE_QCOM, folder + "/QCOM726.DLL", copy);

    clitest::Process watch(folder + "/kv618",
                           {"--interface", "com", "--port", "1", "--address", "1", "watch", "inputs", "--interval",
                            "20", "--format", "csv"},
                           {{"KV_FAKE_JOURNAL", folder + "/journal"}, {"XDG_STATE_HOME", folder}});
    EXPECT_EQ(watch.ReadLine(std::chrono::seconds(10)), "time,inputs");
    for (int poll = 0; poll < 3; ++poll) {
        const auto line = watch.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line) << "each line arrives through the pipe as it is polled";
        EXPECT_NE(line->find(",2018915346"), std::string::npos) << *line << " (the stand-in's 12 34 56 78)";
    }
    watch.Signal(SIGINT);
    const Outcome end = watch.Wait(std::chrono::seconds(10));
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_NE(ReadFile(folder + "/journal").find("Done"), std::string::npos) << ReadFile(folder + "/journal");
    std::filesystem::remove_all(folder);
}

TEST_F(Tool, OutputsAreWrittenSetAndClearedFromWhatWasLastWritten) {
    const Outcome unknown = Kv(Lan(1) + Args{"out", "set", "3"});
    EXPECT_EQ(unknown.status, 2) << "the module does not report its outputs";
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "write", "0x81"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x81u);
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "set", "3", "8-9"}).status, 0);
    EXPECT_EQ(Kv(Lan(1) + Args{"out", "clear", "0"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get outputs"), 0x388u);
}

TEST_F(Tool, ResetsZeroTheCountersAndTheStatusRegister) {
    emulator.command("at 1 set counter 0 5");
    emulator.command("at 1 set counter 3 9");
    emulator.command("at 1 set status 0x14");
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "counters"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get counter 0"), 0u);
    EXPECT_EQ(emulator.value("at 1 get counter 3"), 0u);
    EXPECT_EQ(Kv(Lan(1) + Args{"reset", "status"}).status, 0);
    EXPECT_EQ(emulator.value("at 1 get status"), 0u);
}

// Local time as seconds, from "YYYY-MM-DD HH:MM:SS".
std::time_t Seconds(const std::string& text) {
    std::tm t{};
    ::strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &t);
    return ::timegm(&t);
}

// The computer's local time in whole seconds, from the precise clock (time()
// may still give the second before for a few milliseconds after it turned).
std::time_t LocalNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    ::localtime_r(&now, &local);
    return ::timegm(&local);
}

// The computer's year, as the module's clock cycle must hold a stamp of it.
std::string ThisYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::to_string(1900 + local.tm_year);
}

TEST_F(Tool, ClockSyncSetsTheModuleToTheComputersClock) {
    emulator.command("at 1 set clock 2001-02-03 04:05:06");
    const Outcome sync = Kv(Lan(1) + Args{"clock", "sync"});
    ASSERT_EQ(sync.status, 0) << sync.err;
    // Read three times, so a second turning between the reads cannot hide a
    // clock that runs ahead.
    for (int i = 0; i < 3; ++i) {
        const std::time_t before = LocalNow();
        const std::time_t module = Seconds(emulator.command("at 1 get clock"));
        const std::time_t after = LocalNow();
        EXPECT_GE(module, before - 1);
        EXPECT_LE(module, after) << "the module's clock runs ahead of what was set";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const Outcome show = Kv(Lan(1) + Args{"clock", "show"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_LE(std::abs(Seconds(show.out) - LocalNow()), 2) << show.out;
}

TEST_F(Tool, PowerFailureStampsAreShown) {
    const std::string year = ThisYear();
    ASSERT_EQ(emulator.command("at 1 set stamps " + year + "-01-02 03:04:05 " + year + "-01-02 03:14:15"), "ok");
    const Outcome stamps = Kv(Lan(1) + Args{"power-failures"});
    ASSERT_EQ(stamps.status, 0) << stamps.err;
    EXPECT_EQ(stamps.out, "Začátek výpadku napájení  " + year + "-01-02 03:04:05\nKonec výpadku napájení    " + year +
                              "-01-02 03:14:15\n");
}

TEST_F(Tool, AFreshModuleHasNoPowerFailureRecorded) {
    const Outcome stamps = Kv(Lan(1) + Args{"power-failures"});
    ASSERT_EQ(stamps.status, 0) << stamps.err;
    EXPECT_EQ(stamps.out, "Žádný výpadek napájení není zaznamenán.\n");
}

TEST_F(Tool, AClockTimeThatIsNoDateIsRefusedBeforeAnyRequest) {
    for (const std::string moment : {"-001-06-15 12:00:00", "0000-06-15 12:00:00", "2025-02-29 12:00:00",
                                     "+202-06-15 12:00:00", "2024-06-15 24:00:00"}) {
        const Outcome set = Kv(Lan(1) + Args{"clock", "set", moment});
        EXPECT_EQ(set.status, 2) << moment << ": " << set.err;
    }
    EXPECT_EQ(emulator.value("at 1 get requests"), 0u);
}

// Seconds since the epoch of an ISO 8601 time with its offset.
std::time_t UtcSeconds(const std::string& text) {
    std::tm t{};
    const char* rest = ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
    if (!rest) return 0;
    while (*rest == '.' || std::isdigit(static_cast<unsigned char>(*rest))) ++rest;
    const int sign = *rest == '-' ? -1 : 1;
    const int hours = std::atoi(rest + 1), minutes = std::atoi(rest + 4);
    return ::timegm(&t) - sign * (hours * 3600 + minutes * 60);
}

TEST_F(Tool, WatchCsvReadsBackWithItsOffsetAndUnits) {
    emulator.command("at 1 set counter 2 77");
    const Outcome watch =
        Kv(Lan(1) + Args{"watch", "counters", "--count", "2", "--interval", "20", "--format", "csv"}, English);
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 3u) << watch.out;
    std::vector<std::string> columns;
    std::istringstream header(lines[0]);
    for (std::string column; std::getline(header, column, ',');) columns.push_back(column);
    ASSERT_EQ(columns.size(), 1u + 4 * 5) << lines[0];
    EXPECT_EQ(columns[0], "time");
    // Every quantity's column names its unit as the bridge's keys do.
    for (const std::string unit : {"consumption_wh", "power_w", "period_ms", "power_10s_w"})
        EXPECT_NE(std::find(columns.begin(), columns.end(), "counter3_" + unit), columns.end()) << unit;
    const auto pulses = std::find(columns.begin(), columns.end(), "counter2_pulses") - columns.begin();
    const std::time_t now = std::time(nullptr);
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> cells;
        std::istringstream row(lines[i]);
        for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
        ASSERT_EQ(cells.size(), columns.size()) << lines[i];
        EXPECT_TRUE(std::regex_match(cells[0], Timestamp)) << cells[0];
        EXPECT_EQ(cells[0].substr(cells[0].size() - 6), LocalOffset()) << "the local offset: " << cells[0];
        EXPECT_LE(std::abs(UtcSeconds(cells[0]) - now), 60) << "names the moment: " << cells[0];
        EXPECT_EQ(cells[pulses], "77");
    }
}

TEST_F(Tool, ClockShowInJsonGivesTheModulesTimeAndTheComputersWithItsOffset) {
    emulator.command("at 1 set clock 2001-02-03 04:05:06");
    const Json clock = KvJson(Lan(1) + Args{"clock", "show"});
    EXPECT_TRUE(std::regex_match(clock["module_time"].get<std::string>(), std::regex(R"(\d{4}-02-03T04:05:0\d)")))
        << clock.dump();
    const std::string computer = clock["computer_time"];
    EXPECT_TRUE(std::regex_match(computer, Timestamp)) << computer;
    EXPECT_LE(std::abs(UtcSeconds(computer) - std::time(nullptr)), 60) << computer;
}

TEST_F(Tool, PowerFailuresInJson) {
    const Json none = KvJson(Lan(1) + Args{"power-failures"});
    EXPECT_EQ(none, Json({{"prf", false}, {"start", nullptr}, {"end", nullptr}}));
    const std::string year = ThisYear();
    ASSERT_EQ(emulator.command("at 1 set stamps " + year + "-01-02 03:04:05 " + year + "-01-02 03:14:15"), "ok");
    const Json stamps = KvJson(Lan(1) + Args{"power-failures"});
    EXPECT_EQ(stamps["start"], year + "-01-02T03:04:05");
    EXPECT_EQ(stamps["end"], year + "-01-02T03:14:15");
}

TEST_F(Tool, WatchWithJsonGivesOneDocumentPerPoll) {
    emulator.command("at 1 set inputs 0x0F");
    const Outcome watch = Kv(Lan(1) + Args{"watch", "inputs", "--count", "2", "--interval", "20", "--json"}, English);
    ASSERT_EQ(watch.status, 0) << watch.err;
    const auto lines = Lines(watch.out);
    ASSERT_EQ(lines.size(), 2u) << watch.out;
    for (const auto& line : lines) {
        const Json poll = Json::parse(line);
        EXPECT_TRUE(std::regex_match(poll["time"].get<std::string>(), Timestamp)) << line;
        EXPECT_EQ(poll["inputs"], 0x0Fu ^ 0xFFFFFFFFu);
    }
}

}  // namespace
