// identify, reset, clock and power-failures: one request or a few, each
// reported in one line.
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Times.h"
#include "Tool.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace cli {

namespace {

using i18n::Fill;
using Json = nlohmann::ordered_json;

int Identify(const LinkSession& session, bool json) {
    const auto identity = session.Module().Identify();
    if (!identity.ok()) return session.Fail(identity.error);
    if (json) return PrintJson(IdentityJson(identity.value, session.Address()));
    PrintLine(identity.value.Text());
    return Done;
}

// A reset: one request, confirmed with `done`.
int Reset(const LinkSession& session, int32_t (kv618::Module::*reset)() const, const char* done) {
    if (const int32_t error = (session.Module().*reset)()) return session.Fail(error);
    Confirm(done);
    return Done;
}

int ShowClock(const LinkSession& session, bool json) {
    const auto clock = session.Module().ReadClock();
    if (!clock.ok()) return session.Fail(clock.error);
    // The module's clock keeps no zone: its time goes out as it is; the
    // computer's beside it, with its offset, to compare.
    if (json)
        return PrintJson({{"module_time", ClockText(clock.value, 'T')},
                          {"computer_time", i18n::IsoTime(std::chrono::system_clock::now())}});
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
int SetClockTo(const LinkSession& session, const std::tm& moment, const std::string& shown) {
    const kv618::ClockReading reading = ReadingOf(moment);
    if (const int32_t error = session.Module().SetClockGroup(wire::subcode::ClockTime, reading.time))
        return session.Fail(error);
    if (interrupt::Count() >= 2) {
        Say(_("Interrupted by a second Ctrl-C: the time is new, the date stayed old."));
        return Interrupted;
    }
    if (const int32_t error = session.Module().SetClockGroup(wire::subcode::ClockDate, reading.date)) {
        Say(_("The time is new, the date stayed old:"));
        return session.Fail(error);
    }
    Confirm(Fill(_("Clock set: %s"), shown));
    if (interrupt::Requested()) Say(_("Ctrl-C came while setting; both time and date were written."));
    return Done;
}

// Everything is checked before the first request: a clock is never left
// with a new time and an old date because of what was typed.
int SetClock(const LinkOptions& link, const std::string& text) {
    const auto moment = ParseMoment(text);
    if (!moment)
        return Refuse(Fill(_("Time \"%s\" is not a valid time in the form \"YYYY-MM-DD HH:MM:SS\" (year 1-9999)"), text));
    const int year = moment->tm_year + 1900;
    const int cycle = CurrentYear() & ~3;
    if (year < cycle || year > cycle + 3)
        Say(Fill(_("The module keeps the year only within a four-year cycle; year %s will read as %s."), year,
                 cycle + year % 4));
    return WithSession(link, [&](const LinkSession& session) { return SetClockTo(session, *moment, text); });
}

// The computer's clock at the start of the next whole second: the module's
// clock has no fractions, so this sets it within one exchange's time.
int SyncClock(const LinkSession& session) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto second = ceil<seconds>(now);
    if (interrupt::WaitUntil(steady_clock::now() + (second - now))) return Interrupted;
    const std::time_t t = system_clock::to_time_t(second);
    std::tm local{};
    ::localtime_r(&t, &local);
    return SetClockTo(session, local, i18n::IsoTime(second, false));
}

// PRF says a failure was recorded since the status register was last reset;
// without it, stamps that read as never recorded mean there is none.
int PowerFailures(const LinkSession& session, bool json) {
    const auto register_ = session.Module().ReadStatus();
    if (!register_.ok()) return session.Fail(register_.error);
    const auto stamps = session.Module().ReadPowerFailures();
    if (!stamps.ok()) return session.Fail(stamps.error);
    const bool recorded = register_.value & wire::status::PRF;
    const bool none = kv618::NoPowerFailure(register_.value, stamps.value[0], stamps.value[1]);
    if (json) {
        Json document = {{"prf", recorded}, {"start", nullptr}, {"end", nullptr}};
        if (!none) document["start"] = ClockText(stamps.value[0], 'T'), document["end"] = ClockText(stamps.value[1], 'T');
        return PrintJson(document);
    }
    if (none) {
        PrintLine(_("No power failure is recorded."));
        return Done;
    }
    PrintLine(Padded(_("Power failure began"), 26) + ClockText(stamps.value[0]));
    PrintLine(Padded(_("Power failure ended"), 26) + ClockText(stamps.value[1]));
    if (!recorded) Say(_("Bit PRF is zero: the failure came before the status register was last reset."));
    return Done;
}

}  // namespace

void AddReset(Tool& tool) {
    CLI::App* reset = tool.AddGroup("reset", _("Resets the counters or the status register"));
    tool.WhenLinked(reset->add_subcommand("counters", _("Resets the four counters")), [](LinkSession& session) {
        return Reset(session, &kv618::Module::ResetCounters, _("Counters reset."));
    });
    tool.WhenLinked(reset->add_subcommand("status", _("Resets the status register")), [](LinkSession& session) {
        return Reset(session, &kv618::Module::ResetStatus, _("Status register reset."));
    });
}

void AddClock(Tool& tool) {
    CLI::App* clock = tool.AddGroup("clock", _("The module's clock"));
    CLI::App* show = clock->add_subcommand("show", _("Prints the module's time"));
    tool.AddJson(show);
    tool.WhenLinked(show, [&tool](LinkSession& session) { return ShowClock(session, tool.json); });
    CLI::App* set = clock->add_subcommand("set", _("Sets the module's time"));
    auto moment = std::make_shared<std::string>();
    set->add_option("TIME", *moment, _("Time in the form \"YYYY-MM-DD HH:MM:SS\""))->required()->type_name("\"TIME\"");
    tool.When(set, [&tool, moment] { return SetClock(tool.link, *moment); });
    tool.WhenLinked(clock->add_subcommand("sync", _("Sets the module's time from the computer's clock")), SyncClock);
}

void AddIdentify(Tool& tool) {
    CLI::App* identify =
        tool.app.add_subcommand("identify", _("The module's identification, as the connection dialog shows it"));
    tool.AddJson(identify);
    tool.WhenLinked(identify, [&tool](LinkSession& session) { return Identify(session, tool.json); });
}

void AddPowerFailures(Tool& tool) {
    CLI::App* failures =
        tool.app.add_subcommand("power-failures", _("Beginning and end of the last power failure"));
    tool.AddJson(failures);
    tool.WhenLinked(failures, [&tool](LinkSession& session) { return PowerFailures(session, tool.json); });
}

}  // namespace cli
