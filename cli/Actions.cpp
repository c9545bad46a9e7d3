// identify, reset, clock and power-failures: one request or a few, each
// reported in one line.
#include "Format.h"
#include "Interrupt.h"
#include "Tool.h"

#include <cctype>
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

// "YYYY-MM-DD HH:MM:SS" with a year of 1-9999, naming a real moment, or nothing.
std::optional<std::tm> ParseMoment(const std::string& text) {
    static constexpr char Shape[] = "0000-00-00 00:00:00";
    if (text.size() != sizeof Shape - 1) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i)
        if (Shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != Shape[i])
            return std::nullopt;
    std::tm t{};
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                    &t.tm_sec) != 6 ||
        t.tm_year < 1)
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

// Time first, then date.  The first Ctrl-C lets both go out; a second one
// between them stops before the date.
int SetClockTo(const Session& session, const std::tm& moment) {
    const kv618::ClockReading reading = ReadingOf(moment);
    if (const int32_t error = session.Module().SetClockGroup(kv618::subcode::ClockTime, reading.time))
        return session.Fail(error);
    if (interrupt::Count() >= 2) {
        Say("Přerušeno druhým Ctrl-C: čas je nový, datum zůstalo staré.");
        return Interrupted;
    }
    if (const int32_t error = session.Module().SetClockGroup(kv618::subcode::ClockDate, reading.date)) {
        Say("Čas je nový, datum zůstalo staré:");
        return session.Fail(error);
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &moment);
    PrintLine(std::string("Čas nastaven: ") + text);
    if (interrupt::Requested()) Say("Ctrl-C přišel během nastavování; čas i datum byly zapsány.");
    return Done;
}

// Everything is checked before the first request: a clock is never left
// with a new time and an old date because of what was typed.
int SetClock(const LinkOptions& link, const std::string& text) {
    const auto moment = ParseMoment(text);
    if (!moment) return Refuse("Čas \"" + text + "\" není platný čas ve tvaru \"RRRR-MM-DD HH:MM:SS\" (rok 1-9999)");
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

// PRF says a failure was recorded since the status register was last reset;
// without it, stamps that read as never recorded mean there is none.
int PowerFailures(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    const auto register_ = session->Module().ReadStatus();
    if (!register_.ok()) return session->Fail(register_.error);
    const auto stamps = session->Module().ReadPowerFailures();
    if (!stamps.ok()) return session->Fail(stamps.error);
    const bool recorded = register_.value & kv618::status::PRF;
    if (kv618::NoPowerFailure(register_.value, stamps.value[0], stamps.value[1])) {
        PrintLine("Žádný výpadek napájení není zaznamenán.");
        return Done;
    }
    PrintLine("Začátek výpadku napájení  " + ClockText(stamps.value[0]));
    PrintLine("Konec výpadku napájení    " + ClockText(stamps.value[1]));
    if (!recorded) Say("Bit PRF je nulový: výpadek nastal před posledním nulováním status registru.");
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
