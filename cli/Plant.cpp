// plant audit | snapshot | apply: the plant file read once, every settings
// file it names read and checked before the first request, then one thread
// per line.
#include "Plant.h"

#include "Connection.h"
#include "Files.h"
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Tool.h"

#include <cstdlib>
#include <thread>

namespace cli::plant {

namespace {

using settings::Setting;

// The settings the module should hold: its file's, at its own place on its line.
int LoadWanted(const kvbridge::ModuleConfig& m, std::optional<settings::SavedFile>& wanted) {
    if (m.settings.empty()) return Done;
    std::string text;
    if (const auto f = files::Read(m.settings, text); f.failed())
        return Refuse(SettingsFileProblem(m.settings, 0, i18n::FileReason(f)));
    auto parsed = settings::Parse(text);
    if (!parsed.ok()) return Refuse(SettingsFileProblem(m.settings, parsed.line(), parsed.message()));
    wanted = std::move(parsed.value());
    Put(settings::AddressSetting(), m.data.Adresa, wanted->settings);
    for (const Setting& s : settings::All())
        if (s.kind == settings::Kind::Rate) Put(s, *wire::BaudIndexOf(m.data.Rychlost), wanted->settings);
    return Done;
}

int Prepare(Run& run) {
    kv618::Outcome<kvbridge::Config> loaded = kv618::Failed{};
    {
        // A plant file on a pipe may wait for ever: Ctrl-C ends the wait.
        interrupt::Promptly prompt;
        loaded = kvbridge::LoadConfig(run.options.file, kvbridge::Reader::Plant);
    }
    if (!loaded.ok()) return Refuse(PlantFileProblem(loaded.message()));
    run.config = std::move(loaded.value());
    run.targets.resize(run.config.modules.size());
    run.results.resize(run.config.modules.size());
    for (const auto& line : run.config.lines)
        for (const size_t m : line.modules) run.targets[m].line = &line;
    for (size_t m = 0; m < run.config.modules.size(); ++m) {
        run.targets[m].config = &run.config.modules[m];
        // A snapshot takes what the modules hold: it may be what makes their files.
        if (run.command == Command::Snapshot) continue;
        if (const int status = LoadWanted(run.config.modules[m], run.targets[m].wanted); status != Done) return status;
    }
    return Done;
}

// One module's turn on its line.
class Turn {
public:
    Turn(const Run& run, const Target& target, Result& result, const kv618::Module& module, Progress& progress)
        : run_(run), target_(target), result_(result), module_(module), progress_(progress) {}

    void Take() {
        const auto identity = module_.Identify();
        if (!identity.ok()) return Fail(Verdict::NoAnswer, identity.error);
        result_.identity = identity.value;
        if (run_.command == Command::Snapshot) return Snapshot();
        if (!target_.wanted) {
            result_.verdict = Verdict::Matches;
            return;
        }
        const settings::SavedFile& wanted = *target_.wanted;
        if (!kv618::settings::SameKind(wanted, identity.value)) {
            result_.verdict = Verdict::OtherModule;
            return;
        }
        result_.otherVersion = !kv618::settings::SameVersion(wanted, identity.value);
        TKonfigurace held = VychoziKonfigurace();
        if (const uint8_t error = settings::ReadAll(module_, held)) return Fail(Verdict::ReadFailed, error);
        result_.differences = settings::Differences(wanted.settings, held);
        result_.verdict = result_.differences.empty() ? Verdict::Matches : Verdict::Differs;
        if (run_.command == Command::Apply && !run_.options.dryRun) Apply(wanted.settings, held);
    }

private:
    void Fail(Verdict verdict, uint8_t code) {
        result_.verdict = verdict;
        result_.reason = module_.Text(code);
    }

    void Snapshot() {
        TKonfigurace held = VychoziKonfigurace();
        if (const uint8_t error = settings::ReadAll(module_, held)) return Fail(Verdict::ReadFailed, error);
        const std::string text = settings::Compose(*result_.identity, held, std::chrono::system_clock::now());
        result_.file = run_.options.folder + "/" + target_.config->name + ".txt";
        if (const auto f = files::Replace(result_.file, text); f.failed()) {
            result_.verdict = Verdict::NotSaved;
            result_.reason = i18n::FileReason(f);
            return;
        }
        result_.verdict = Verdict::Saved;
    }

    void Apply(const TKonfigurace& wanted, const TKonfigurace& held) {
        result_.registers = settings::RegistersToWrite(wanted, held, run_.options.withLink);
        if (result_.registers.empty()) return;
        result_.write = settings::WriteVerified(module_, result_.registers, wanted, result_.stop,
                                                [this] { progress_.Finishing(); });
        result_.writes = settings::WhatWasWritten(result_.registers, result_.write);
        result_.verdict = result_.write.ok() ? Verdict::Written : Verdict::WriteFailed;
        if (result_.write.error) result_.reason = module_.Text(result_.write.error);
    }

    const Run& run_;
    const Target& target_;
    Result& result_;
    kv618::Module module_;
    Progress& progress_;
};

// The line's modules one after another over its one link.  A Ctrl-C lets
// the module whose turn it is finish (its block being written, see
// WriteVerified) and the others wait.
void Work(Run& run, const kvbridge::LineConfig& line, Progress& progress) {
    kv618::Connection link;
    int32_t rate = run.config.modules[line.modules.front()].data.Rychlost;
    if (const int32_t code = link.Open(line.type, kv618::InitBlock(line.data, line.type), rate)) {
        for (const size_t m : line.modules) {
            run.results[m].verdict = Verdict::LineNotOpened;
            run.results[m].reason = link.Text(code);
        }
        return;
    }
    for (const size_t m : line.modules) {
        if (interrupt::Requested()) return;
        const Target& target = run.targets[m];
        progress.Started(target);
        if (target.config->data.Rychlost != rate) {
            rate = target.config->data.Rychlost;
            if (const int32_t code = link.SetRate(rate)) {
                run.results[m].verdict = Verdict::NoAnswer;
                run.results[m].reason = link.Text(code);
                continue;
            }
        }
        Turn(run, target, run.results[m], link.At(target.config->data.Adresa), progress).Take();
    }
}

int Execute(Command command, const Options& options, const Tool& tool) {
    Run run;
    run.command = command;
    run.options = options;
    run.options.json = tool.json;
    const std::string& trace = tool.link.trace;
    if (const int status = Prepare(run); status != Done) return status;
    if (command == Command::Snapshot) {
        if (const auto f = files::MakeFolders(options.folder, 0777); f.failed()) return Fail(FileProblem(f));
    }
    // The libraries decide at _Init whether a link traces.
    if (!trace.empty()) ::setenv("KV618_TRACE", trace.c_str(), 1);
    {
        Progress progress(run.targets.size());
        std::vector<std::thread> lines;
        for (const auto& line : run.config.lines) lines.emplace_back([&run, &line, &progress] { Work(run, line, progress); });
        for (std::thread& t : lines) t.join();
    }
    run.interrupted = interrupt::Requested();
    return Report(run);
}

void AddCommon(Tool& tool, CLI::App* sub, Options& o) {
    sub->add_option("FILE", o.file, _("The plant file (the bridge's configuration)"))->required();
    tool.AddJson(sub);
}

}  // namespace

}  // namespace cli::plant

namespace cli {

void AddPlant(Tool& tool) {
    using namespace plant;
    CLI::App* plant = tool.AddGroup("plant", _("Every module of a plant file: audit, snapshot, apply"));

    auto audit = std::make_shared<Options>();
    CLI::App* auditCommand =
        plant->add_subcommand("audit", _("Checks that every module answers and holds its settings (exit 3: not so)"));
    AddCommon(tool, auditCommand, *audit);
    tool.When(auditCommand, [&tool, audit] { return Execute(Command::Audit, *audit, tool); });

    auto snapshot = std::make_shared<Options>();
    CLI::App* snapshotCommand =
        plant->add_subcommand("snapshot", _("Saves every answering module's settings into DIR/NAME.txt"));
    AddCommon(tool, snapshotCommand, *snapshot);
    snapshotCommand->add_option("DIR", snapshot->folder, _("The folder for the files (made if missing)"))->required();
    tool.When(snapshotCommand, [&tool, snapshot] { return Execute(Command::Snapshot, *snapshot, tool); });

    auto apply = std::make_shared<Options>();
    CLI::App* applyCommand =
        plant->add_subcommand("apply", _("Writes into each module what differs from its settings, each write read back"));
    AddCommon(tool, applyCommand, *apply);
    applyCommand->add_flag("--dry-run", apply->dryRun, _("Only shows what would be written"));
    applyCommand->add_flag("--with-link", apply->withLink, _("Writes the address and the rate too (from the plant file)"));
    tool.When(applyCommand, [&tool, apply] { return Execute(Command::Apply, *apply, tool); });
}

}  // namespace cli
