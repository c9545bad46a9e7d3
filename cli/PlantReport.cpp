// What kv618 plant tells the operator: the table or the JSON of the
// results, the summary, the progress and the exit status.  Every text of the
// plant commands stands in this file, but the words for a setting's bytes
// after a write, which config load says alike (Settings.h).
#include "Plant.h"

#include "Format.h"
#include "Messages.h"
#include "Tool.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace cli::plant {

namespace {

using settings::ByteState;
using Json = nlohmann::ordered_json;

// Each result's name in JSON, its words in the table and in the summary's
// counts ("2 differ"), in the order of Verdict.
struct VerdictTexts {
    const char* key;
    const char* words;
    const char* counted;
};
constexpr VerdictTexts Texts[] = {
    {"not-reached", N_("not reached (stopped)"), N_("not reached")},
    {"line-not-opened", N_("line not opened"), N_("on a line not opened")},
    {"no-answer", N_("no answer"), N_("did not answer")},
    {"read-failed", N_("read failed"), N_("could not be read")},
    {"other-module", N_("other module"), N_("other module")},
    {"matches", N_("matches"), N_("match")},
    {"differs", N_("differs"), N_("differ")},
    {"written", N_("written"), N_("written")},
    {"write-failed", N_("write failed"), N_("write failed")},
    {"saved", N_("saved"), N_("saved")},
    {"not-saved", N_("not saved"), N_("not saved")},
};
static_assert(std::size(Texts) == static_cast<size_t>(Verdict::NotSaved) + 1);

const char* Key(Verdict v) { return Texts[static_cast<size_t>(v)].key; }
const char* Words(Verdict v) { return _(Texts[static_cast<size_t>(v)].words); }
const char* Counted(Verdict v) { return _(Texts[static_cast<size_t>(v)].counted); }

std::string Value(const settings::Setting& s, uint32_t value) { return settings::ValueText(s, value); }

bool LeftAlone(const Run& run, const Difference& d) {
    return run.command == Command::Apply && !run.options.withLink && settings::IsLink(*d.setting);
}

// apply: what was written, what failed and what is left, by setting.
struct Writes {
    std::vector<std::string> written;
    // setting, why, and its bytes where some of them were written
    struct Failed {
        const settings::SettingWrite* write;
        std::string why;
    };
    std::vector<Failed> failed;
    std::vector<const settings::SettingWrite*> half;  // some bytes written, the others not (a second Ctrl-C)
    std::vector<std::string> left;       // not written
    std::vector<std::string> leftAlone;  // the address and the rate without --with-link
};

Writes WritesOf(const Run& run, const Result& r) {
    Writes w;
    if (run.command != Command::Apply || run.options.dryRun) return w;
    for (const Difference& d : r.differences)
        if (LeftAlone(run, d)) w.leftAlone.push_back(d.setting->key);
    for (const settings::SettingWrite& s : r.writes) {
        if (s.Only(ByteState::Written)) w.written.push_back(s.setting->key);
        else if (!s.In(ByteState::Uncertain).empty())
            w.failed.push_back({&s, r.write.mismatch ? std::string(_("read back otherwise than written"))
                                                     : i18n::Fill(_("not certain: %s"), r.reason)});
        else if (s.HalfWritten()) w.half.push_back(&s);
        else w.left.push_back(s.setting->key);
    }
    return w;
}

// "initial-outputs (bytes 0, 1 written and verified; bytes 2, 3 not written)"
std::string HalfText(const settings::SettingWrite& s) {
    return std::string(s.setting->key) + " (" + settings::StateText(s, false) + ")";
}

// A failed setting's reason, and its bytes where the setting has several.
std::string FailedText(const Writes::Failed& f, bool mismatch) {
    if (f.write->bytes.size() == 1) return f.why;
    return f.why + "; " + settings::StateText(*f.write, mismatch);
}

// Each byte of a setting by what became of it.
Json BytesJson(const settings::SettingWrite& s) {
    return {{"written", s.In(ByteState::Written)},
            {"uncertain", s.In(ByteState::Uncertain)},
            {"not_written", s.In(ByteState::Left)}};
}

std::string List(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// Whether something is still to do, and whether something failed.
struct Tally {
    bool failed = false, open = false;
    bool needsLink = false;  // only --with-link would write what differs
};

Tally TallyOf(const Run& run) {
    Tally t;
    for (const Result& r : run.results) {
        switch (r.verdict) {
            case Verdict::LineNotOpened:
            case Verdict::WriteFailed:
            case Verdict::NotSaved: t.failed = true; break;
            case Verdict::NotReached:
            case Verdict::NoAnswer:
            case Verdict::ReadFailed:
            case Verdict::OtherModule: t.open = true; break;
            case Verdict::Differs:
                // apply leaves a difference only where --with-link was wanted
                if (run.command == Command::Apply && !run.options.dryRun) t.needsLink = true;
                else t.open = true;
                break;
            case Verdict::Written: {
                const Writes w = WritesOf(run, r);
                t.open |= !w.left.empty() || !w.half.empty();
                t.needsLink |= !w.leftAlone.empty();
                break;
            }
            case Verdict::Matches:
            case Verdict::Saved: break;
        }
    }
    return t;
}

int ExitStatus(const Run& run) {
    if (run.interrupted) return Interrupted;
    const Tally t = TallyOf(run);
    return t.failed ? Failed : t.open || t.needsLink ? Differs : Done;
}

// The lines under a module's row in the table.
std::vector<std::string> Details(const Run& run, const Target& target, const Result& r) {
    std::vector<std::string> lines;
    if (r.verdict == Verdict::OtherModule)
        lines.push_back(i18n::Fill(_("its settings file %s is for a %s, this module is a %s; nothing compared or written"),
                                   target.config->settings, target.wanted->module, Trimmed(r.identity->Name())));
    if (r.otherVersion)
        lines.push_back(i18n::Fill(_("its settings file comes from version %s, the module has %s"), target.wanted->version,
                                   Trimmed(r.identity->Version())));
    const bool applied = run.command == Command::Apply && !run.options.dryRun;
    for (const Difference& d : r.differences) {
        const std::string change =
            i18n::Fill(_("%s: %s -> %s"), d.setting->key, Value(*d.setting, d.held), Value(*d.setting, d.wanted));
        if (run.command == Command::Audit)
            lines.push_back(i18n::Fill(_("%s: should be %s, is %s"), d.setting->key, Value(*d.setting, d.wanted),
                                       Value(*d.setting, d.held)));
        else if (LeftAlone(run, d))
            lines.push_back(i18n::Fill(_("left alone %s (only --with-link writes the address and the rate)"), change));
        else if (!applied) lines.push_back(i18n::Fill(_("would write %s"), change));
    }
    if (applied) {
        const Writes w = WritesOf(run, r);
        if (!w.written.empty()) lines.push_back(i18n::Fill(_("written and read back: %s"), List(w.written)));
        for (const auto& f : w.failed)
            lines.push_back(i18n::Fill(_("failed: %s (%s)"), f.write->setting->key, FailedText(f, r.write.mismatch)));
        for (const auto* s : w.half) lines.push_back(i18n::Fill(_("half written: %s"), HalfText(*s)));
        if (r.stop == settings::Stop::AfterBlock) lines.push_back(_("stopped by Ctrl-C after a finished block"));
        if (r.stop == settings::Stop::AtOnce) lines.push_back(_("stopped at once by a second Ctrl-C"));
        if (!w.left.empty()) lines.push_back(i18n::Fill(_("left to do: %s"), List(w.left)));
    }
    return lines;
}

std::string LastColumn(const Result& r) {
    if (r.verdict == Verdict::Saved) return r.file;
    if (!r.reason.empty()) return r.reason;
    return r.identity ? r.identity->Text() : "";
}

// Characters, not bytes: a translation's letters may take two.
size_t Width(std::string_view text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void PrintTable(const Run& run) {
    size_t nameWidth = Width(_("MODULE")), lineWidth = Width(_("LINE")), resultWidth = Width(_("RESULT"));
    for (size_t m = 0; m < run.targets.size(); ++m) {
        nameWidth = std::max(nameWidth, Width(run.targets[m].config->name));
        lineWidth = std::max(lineWidth, Width(run.targets[m].line->name));
        resultWidth = std::max(resultWidth, Width(Words(run.results[m].verdict)));
    }
    PrintLine(Padded(_("MODULE"), nameWidth + 2) + Padded(_("LINE"), lineWidth + 2) + Padded(_("ADDRESS"), std::max<size_t>(9, Width(_("ADDRESS")) + 2)) +
              Padded(_("RESULT"), resultWidth + 2) + _("MODULE SAYS / REASON / FILE"));
    for (size_t m = 0; m < run.targets.size(); ++m) {
        const Target& t = run.targets[m];
        const Result& r = run.results[m];
        PrintLine(Trimmed(Padded(t.config->name, nameWidth + 2) + Padded(t.line->name, lineWidth + 2) +
                          Padded(std::to_string(t.config->data.Adresa), 9) + Padded(Words(r.verdict), resultWidth + 2) +
                          LastColumn(r)));
        for (const std::string& line : Details(run, t, r)) PrintLine("    " + line);
    }
}

// "10 modules: 7 match, 2 differ, 1 did not answer."
std::string Summary(const Run& run) {
    std::map<Verdict, size_t> counts;
    for (const Result& r : run.results) ++counts[r.verdict];
    std::string parts;
    for (const auto& [verdict, count] : counts)
        parts += (parts.empty() ? "" : ", ") + i18n::Fill(_("%s %s"), count, Counted(verdict));
    return i18n::Fill(run.results.size() == 1 ? _("%s module: %s.") : _("%s modules: %s."), run.results.size(), parts);
}

bool AnyHalfWritten(const Run& run) {
    return std::any_of(run.results.begin(), run.results.end(), [&](const Result& r) {
        const Writes w = WritesOf(run, r);
        return !w.half.empty() || std::any_of(w.failed.begin(), w.failed.end(), [](const Writes::Failed& f) {
                   return !f.write->In(ByteState::Written).empty();
               });
    });
}

std::vector<std::string> Closing(const Run& run) {
    std::vector<std::string> lines{Summary(run)};
    if (run.command == Command::Snapshot) {
        std::vector<std::string> missing;
        for (size_t m = 0; m < run.results.size(); ++m)
            if (run.results[m].verdict != Verdict::Saved) missing.push_back(run.targets[m].config->name);
        if (!missing.empty()) lines.push_back(i18n::Fill(_("Not saved: %s."), List(missing)));
    }
    if (run.interrupted)
        lines.push_back(AnyHalfWritten(run)
                            ? _("Stopped by Ctrl-C with a setting left half written (above); the same command "
                                "again finishes it.")
                            : _("Stopped by Ctrl-C; no write was left half done."));
    const Tally t = TallyOf(run);
    if (run.command == Command::Apply && !run.options.dryRun && (t.failed || t.open))
        lines.push_back(_("Something is left to do: run the same command again to finish it."));
    if (t.needsLink) lines.push_back(_("Addresses or rates differ: only --with-link writes them."));
    return lines;
}

Json ModuleJson(const Run& run, const Target& t, const Result& r) {
    Json m = {{"name", t.config->name},
              {"line", t.line->name},
              {"address", t.config->data.Adresa},
              {"rate", t.config->data.Rychlost},
              {"result", Key(r.verdict)}};
    if (r.identity) m["identification"] = IdentityJson(*r.identity, t.config->data.Adresa);
    if (!r.reason.empty()) m["reason"] = r.reason;
    if (!t.config->settings.empty()) m["settings"] = t.config->settings;
    if (r.otherVersion) m["settings_version"] = t.wanted->version;
    if (!r.differences.empty()) {
        Json& list = m["differences"] = Json::array();
        for (const Difference& d : r.differences)
            list.push_back({{"setting", d.setting->key},
                            {"wanted", Value(*d.setting, d.wanted)},
                            {"found", Value(*d.setting, d.held)}});
    }
    if (run.command == Command::Apply && !run.options.dryRun) {
        const Writes w = WritesOf(run, r);
        m["written"] = w.written;
        Json& failed = m["failed"] = Json::array();
        for (const auto& f : w.failed)
            failed.push_back({{"setting", f.write->setting->key}, {"reason", f.why}, {"bytes", BytesJson(*f.write)}});
        Json& half = m["half_written"] = Json::array();
        for (const auto* s : w.half) half.push_back({{"setting", s->setting->key}, {"bytes", BytesJson(*s)}});
        std::vector<std::string> left = w.left;
        left.insert(left.end(), w.leftAlone.begin(), w.leftAlone.end());
        m["left"] = left;
    }
    if (run.command == Command::Snapshot && !r.file.empty()) m["file"] = r.file;
    return m;
}

void PrintReportJson(const Run& run, int status) {
    static const char* const names[] = {"audit", "snapshot", "apply"};
    Json out = {{"command", names[static_cast<int>(run.command)]}, {"file", run.options.file}};
    if (run.command == Command::Apply) out["dry_run"] = run.options.dryRun;
    Json& modules = out["modules"] = Json::array();
    std::map<std::string, size_t> counts;
    for (size_t m = 0; m < run.targets.size(); ++m) {
        modules.push_back(ModuleJson(run, run.targets[m], run.results[m]));
        ++counts[Key(run.results[m].verdict)];
    }
    out["summary"] = counts;
    out["interrupted"] = run.interrupted;
    out["exit"] = status;
    cli::PrintJson(out);
}

}  // namespace

int Report(const Run& run) {
    const int status = ExitStatus(run);
    if (run.options.json) {
        PrintReportJson(run, status);
    } else {
        PrintTable(run);
        for (const std::string& line : Closing(run)) PrintLine(line);
    }
    return status;
}

Progress::Progress(size_t total) : total_(total), shown_(::isatty(STDERR_FILENO) && Noted()) {}

Progress::~Progress() {
    if (shown_) std::fputs("\r\033[K", stderr);
}

void Progress::Started(const Target& target) {
    std::lock_guard lock(mutex_);
    ++started_;
    if (!shown_) return;
    const std::string text = i18n::Fill(_("module %s of %s: %s, address %s (%s)"), started_, total_, target.line->name,
                                        target.config->data.Adresa, target.config->name);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
}

void Progress::Finishing() {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    finishing_ = true;
    if (shown_) std::fputs("\r\033[K", stderr);
    Say(_("Ctrl-C: the blocks being written are finished and read back, then the run stops "
          "(another Ctrl-C stops at once)."));
}

std::string PlantFileProblem(const std::string& message) { return i18n::Fill(_("%s; nothing was done."), message); }

std::string SettingsFileProblem(const std::string& path, int line, const std::string& message) {
    const std::string where = line > 0 ? path + ":" + std::to_string(line) : path;
    return i18n::Fill(_("%s: %s; nothing was done."), where, message);
}

}  // namespace cli::plant
