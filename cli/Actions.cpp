// identify, reset, clock and power-failures: one request or a few, each
// reported in one line.
#include "Format.h"
#include "Interrupt.h"
#include "Tool.h"

#include <cstdio>
#include <ctime>

namespace cli {

namespace {

int Identify(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    const auto identity = session->Module().Identify();
    if (!identity.ok()) return session->Fail(identity.error);
    PrintLine(identity.value.Text());
    return Done;
}

int ResetCounters(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    if (const int32_t error = session->Module().ResetCounters()) return session->Fail(error);
    PrintLine("Čítače vynulovány.");
    return Done;
}

int ResetStatus(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    if (const int32_t error = session->Module().ResetStatus()) return session->Fail(error);
    PrintLine("Status registr vynulován.");
    return Done;
}

int ShowClock(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    const auto clock = session->Module().ReadClock();
    if (!clock.ok()) return session->Fail(clock.error);
    PrintLine(ClockText(clock.value));
    return Done;
}

kv618::ClockReading ReadingOf(const std::tm& t) {
    const auto byte = [](int v) { return static_cast<uint8_t>(v); };
    return {{byte(t.tm_sec), byte(t.tm_min), byte(t.tm_hour)},
            {byte(t.tm_mday), byte(t.tm_mon + 1), byte((t.tm_year + 1900) % 4)}};
}

// "YYYY-MM-DD HH:MM:SS" naming a real moment, or nothing.
std::optional<std::tm> ParseMoment(const std::string& text) {
    std::tm t{};
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                    &t.tm_min, &t.tm_sec, &end) != 6)
        return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    std::tm normalised = t;
    normalised.tm_isdst = -1;
    ::timegm(&normalised);  // only to see that no field had to be carried over
    if (normalised.tm_year != t.tm_year || normalised.tm_mon != t.tm_mon || normalised.tm_mday != t.tm_mday ||
        normalised.tm_hour != t.tm_hour || normalised.tm_min != t.tm_min || normalised.tm_sec != t.tm_sec)
        return std::nullopt;
    return t;
}

int SetClockTo(const Session& session, const std::tm& moment) {
    if (const int32_t error = session.Module().SetClock(ReadingOf(moment))) return session.Fail(error);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &moment);
    PrintLine(std::string("Čas nastaven: ") + text);
    return Done;
}

int SetClock(const LinkOptions& link, const std::string& text) {
    const auto moment = ParseMoment(text);
    if (!moment) return Refuse("Čas \"" + text + "\" není platný čas ve tvaru \"RRRR-MM-DD HH:MM:SS\"");
    const int year = moment->tm_year + 1900;
    const int cycle = CurrentYear() & ~3;
    if (year < cycle || year > cycle + 3)
        Say("Modul si pamatuje rok jen v rámci čtyřletého cyklu; rok " + std::to_string(year) + " se přečte jako " +
            std::to_string(cycle + year % 4) + ".");
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    return SetClockTo(*session, *moment);
}

// The computer's clock at the start of the next whole second: the module's
// clock has no fractions, so this sets it within one exchange's time.
int SyncClock(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto second = ceil<seconds>(now);
    if (interrupt::WaitUntil(steady_clock::now() + (second - now))) return Interrupted;
    const std::time_t t = system_clock::to_time_t(second);
    std::tm local{};
    ::localtime_r(&t, &local);
    return SetClockTo(*session, local);
}

int PowerFailures(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    const auto stamps = session->Module().ReadPowerFailures();
    if (!stamps.ok()) return session->Fail(stamps.error);
    PrintLine("Začátek výpadku napájení  " + ClockText(stamps.value[0]));
    PrintLine("Konec výpadku napájení    " + ClockText(stamps.value[1]));
    return Done;
}

void AddReset(Tool& tool) {
    CLI::App* reset = tool.app.add_subcommand("reset", "Vynuluje čítače nebo status registr");
    reset->group("Příkazy");
    reset->require_subcommand(1);
    tool.When(reset->add_subcommand("counters", "Vynuluje čtyři čítače"), [&tool] { return ResetCounters(tool.link); });
    tool.When(reset->add_subcommand("status", "Vynuluje status registr"), [&tool] { return ResetStatus(tool.link); });
}

void AddClock(Tool& tool) {
    CLI::App* clock = tool.app.add_subcommand("clock", "Hodiny modulu");
    clock->group("Příkazy");
    clock->require_subcommand(1);
    tool.When(clock->add_subcommand("show", "Vypíše čas modulu"), [&tool] { return ShowClock(tool.link); });
    CLI::App* set = clock->add_subcommand("set", "Nastaví čas modulu");
    auto moment = std::make_shared<std::string>();
    set->add_option("TIME", *moment, "Čas ve tvaru \"RRRR-MM-DD HH:MM:SS\"")->required()->type_name("\"TIME\"");
    tool.When(set, [&tool, moment] { return SetClock(tool.link, *moment); });
    tool.When(clock->add_subcommand("sync", "Nastaví čas modulu podle hodin počítače"),
              [&tool] { return SyncClock(tool.link); });
}

}  // namespace

void AddModuleCommands(Tool& tool) {
    tool.When(tool.app.add_subcommand("identify", "Identifikace modulu, jak ji ukazuje dialog připojení"),
              [&tool] { return Identify(tool.link); });
    AddOutputs(tool);
    AddReset(tool);
    AddClock(tool);
    tool.When(tool.app.add_subcommand("power-failures", "Začátek a konec posledního výpadku napájení"),
              [&tool] { return PowerFailures(tool.link); });
}

}  // namespace cli
