// watch: the module's live values, one timestamped line per poll, on a
// cadence of absolute deadlines so that no poll's lateness carries over.
#include "Format.h"
#include "Interrupt.h"
#include "LiveValues.h"
#include "Messages.h"
#include "Quantities.h"
#include "Times.h"
#include "Tool.h"

#include <cerrno>
#include <cstdio>

namespace cli {

namespace {

struct WatchOptions {
    std::string what;
    std::string interval = "1000";
    std::string count;  // empty: until Ctrl-C
    std::string format = "table";
};

enum class Format { Table, Csv, Json };

using What = kv618::Groups;

constexpr size_t TimeWidth = 31, ColumnWidth = 12;

// The CSV and JSON lines are the module layer's (module/LiveValues.h), which
// the program's log and trend windows write too; the table is kv618's own.
std::optional<std::string> Header(Format format, const What& what) {
    if (format == Format::Csv) return kv618::LogHeader(kv618::LogFormat::Csv, what);
    if (format == Format::Json) return std::nullopt;
    std::string line = Padded(_("Time"), TimeWidth);
    const auto column = [&](const std::string& label) { line += Padded(label, ColumnWidth); };
    if (what.inputs) column(_("Inputs"));
    if (what.status) column(_("Status"));
    if (what.counters)
        for (int c = 0; c < wire::CounterCount; ++c)
            for (size_t q = 0; q < wire::Quantities.size(); ++q)
                column(i18n::Fill(_("C%s %s"), c, _(kv618::QuantityNames[q].label)));
    return Trimmed(line);
}

std::string Line(Format format, const What& what, const kv618::Sample& s) {
    if (format == Format::Csv) return kv618::LogLine(kv618::LogFormat::Csv, what, s);
    if (format == Format::Json) return kv618::LogLine(kv618::LogFormat::Json, what, s);
    std::string line = Padded(i18n::IsoTime(s.when), TimeWidth);
    const auto column = [&](const std::string& text) { line += Padded(text, ColumnWidth); };
    if (what.inputs) column(Hex32(s.inputs));
    if (what.status) column(Hex32(s.status));
    if (what.counters)
        for (const auto& counter : s.counters)
            for (const uint32_t value : counter) column(std::to_string(value));
    return Trimmed(line);
}

// A reader that went away (| head) ends the watch quietly; anything else is a failure.
int OutputGone() {
    if (errno == EPIPE) return Done;
    return Fail(_("Writing to standard output failed"));
}

struct Cadence {
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point next = std::chrono::steady_clock::now();
    bool warned = false;

    // The next deadline; a poll that overran skips the deadlines it missed
    // rather than bunching polls together.
    std::chrono::steady_clock::time_point Advance() {
        next += interval;
        const auto now = std::chrono::steady_clock::now();
        if (now > next) {
            next += ((now - next) / interval + 1) * interval;
            if (!warned)
                Say(i18n::Fill(_("Polls take longer than the interval of %s ms; missed deadlines are skipped."),
                               interval.count()));
            warned = true;
        }
        return next;
    }
};

int Watch(const LinkSession& session, const What& what, Format format, std::chrono::milliseconds interval,
          uint64_t count) {
    if (const auto header = Header(format, what); header && !PrintLine(*header)) return OutputGone();
    const kv618::Module module = session.Module();
    Cadence cadence{interval};
    bool failed = false;
    for (uint64_t polls = 1;; ++polls) {
        kv618::Sample sample;
        sample.when = std::chrono::system_clock::now();
        if (const int32_t error = kv618::Poll(module, what, sample)) {
            failed = true;
            std::fprintf(stderr, "%s kv618: %s\n", i18n::IsoTime(sample.when).c_str(),
                         module.Text(error).c_str());
        } else if (!PrintLine(Line(format, what, sample))) {
            return OutputGone();
        }
        if (count && polls >= count) break;
        if (interrupt::WaitUntil(cadence.Advance())) break;
    }
    return failed ? Failed : Done;
}

int Start(const LinkOptions& link, const WatchOptions& o, bool json) {
    What what;
    if (o.what == "outputs")
        return Refuse(_("The module does not report its outputs; they can only be written (kv618 out write)."));
    what.inputs = o.what == "inputs" || o.what == "all";
    what.status = o.what == "status" || o.what == "all";
    what.counters = o.what == "counters" || o.what == "all";
    uint64_t interval = 0, count = 0;
    if (!ParseUnsigned(o.interval, 86'400'000, interval) || interval == 0)
        return Refuse(_("The interval is given in ms, 1-86400000"));
    if (!o.count.empty() && (!ParseUnsigned(o.count, UINT64_MAX, count) || count == 0))
        return Refuse(_("The number of polls must be a positive whole number"));
    const Format format =
        json || o.format == "json" ? Format::Json : o.format == "csv" ? Format::Csv : Format::Table;
    return WithSession(link, [&](LinkSession& session) {
        return Watch(session, what, format, std::chrono::milliseconds(interval), count);
    });
}

}  // namespace

void AddWatch(Tool& tool) {
    auto o = std::make_shared<WatchOptions>();
    CLI::App* watch = tool.app.add_subcommand("watch", _("Live values with their time, a line per poll"));
    watch->add_option("WHAT", o->what, _("inputs, counters, status or all (the module does not report outputs)"))
        ->required()
        ->type_name("WHAT")
        ->check(OneOf({"inputs", "outputs", "counters", "status", "all"}));
    watch->add_option("--interval", o->interval, _("Interval of the polls in ms (default 1000)"))->type_name("MS");
    watch->add_option("--count", o->count, _("Number of polls (default: until Ctrl-C)"))->type_name("N");
    CLI::Option* format = watch->add_option("--format", o->format, _("table, csv or json (default table)"))
                              ->type_name("FORMAT")
                              ->check(OneOf({"table", "csv", "json"}));
    // --json as on every other command: --format json.
    tool.AddJson(watch)->excludes(format);
    tool.When(watch, [&tool, o] { return Start(tool.link, *o, tool.json); });
}

}  // namespace cli
