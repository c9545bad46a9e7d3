// watch: the module's live values, one timestamped line per poll, on a
// cadence of absolute deadlines so that no poll's lateness carries over.
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Quantities.h"
#include "Times.h"
#include "Tool.h"

#include <nlohmann/json.hpp>

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

struct What {
    bool inputs = false, status = false, counters = false;
};

struct Sample {
    std::chrono::system_clock::time_point when;
    uint32_t inputs = 0, status = 0;
    kv618::CounterTable counters{};
};

int32_t Poll(const kv618::Module& module, const What& what, Sample& sample) {
    if (what.inputs) {
        const auto inputs = module.ReadInputs();
        if (!inputs.ok()) return inputs.error;
        sample.inputs = inputs.value;
    }
    if (what.status) {
        const auto status = module.ReadStatus();
        if (!status.ok()) return status.error;
        sample.status = status.value;
    }
    if (what.counters) {
        for (int counter = 0; counter < kv618::CounterCount; ++counter) {
            for (size_t q = 0; q < kv618::Quantities.size(); ++q) {
                const auto value = module.ReadQuantity(kv618::Quantities[q], counter);
                if (!value.ok()) return value.error;
                sample.counters[counter][q] = value.value;
            }
        }
    }
    return 0;
}

constexpr size_t TimeWidth = 31, ColumnWidth = 12;

std::optional<std::string> Header(Format format, const What& what) {
    if (format == Format::Json) return std::nullopt;
    const bool csv = format == Format::Csv;
    std::string line = csv ? "time" : Padded(_("Time"), TimeWidth);
    const auto column = [&](const std::string& key, const std::string& label) {
        line += csv ? "," + key : Padded(label, ColumnWidth);
    };
    if (what.inputs) column("inputs", _("Inputs"));
    if (what.status) column("status", _("Status"));
    if (what.counters)
        for (int c = 0; c < kv618::CounterCount; ++c)
            for (size_t q = 0; q < kv618::Quantities.size(); ++q)
                column("counter" + std::to_string(c) + "_" + kv618::QuantityNames[q].key,
                       i18n::Fill(_("C%s %s"), c, _(kv618::QuantityNames[q].label)));
    return Trimmed(line);
}

std::string JsonLine(const What& what, const Sample& s) {
    // Keys in the order of the CSV columns.
    nlohmann::ordered_json line = {{"time", i18n::IsoTime(s.when)}};
    if (what.inputs) line["inputs"] = s.inputs;
    if (what.status) line["status"] = s.status;
    if (what.counters) {
        auto& counters = line["counters"] = nlohmann::ordered_json::array();
        for (const auto& values : s.counters) {
            nlohmann::ordered_json counter = nlohmann::ordered_json::object();
            for (size_t q = 0; q < kv618::QuantityNames.size(); ++q) counter[kv618::QuantityNames[q].key] = values[q];
            counters.push_back(std::move(counter));
        }
    }
    return line.dump();
}

std::string Line(Format format, const What& what, const Sample& s) {
    if (format == Format::Json) return JsonLine(what, s);
    const bool csv = format == Format::Csv;
    const std::string time = i18n::IsoTime(s.when);
    std::string line = csv ? time : Padded(time, TimeWidth);
    const auto column = [&](const std::string& text) { line += csv ? "," + text : Padded(text, ColumnWidth); };
    if (what.inputs) column(csv ? std::to_string(s.inputs) : Hex32(s.inputs));
    if (what.status) column(csv ? std::to_string(s.status) : Hex32(s.status));
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
        Sample sample;
        sample.when = std::chrono::system_clock::now();
        if (const int32_t error = Poll(module, what, sample)) {
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
    int status = Done;
    const auto session = LinkSession::Open(link, status);
    if (!session) return status;
    return Watch(*session, what, format, std::chrono::milliseconds(interval), count);
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
