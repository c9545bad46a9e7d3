// config show | save | diff | load: the module's stored settings as a table,
// as a file, compared with a file, and written from a file.
#include "Files.h"
#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Settings.h"
#include "StoredSettings.h"
#include "Tool.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

using i18n::Fill;
using settings::Setting;

constexpr size_t LabelWidth = 26;

// What diff and load compare: the address and the baud rate are the module's
// own place on its line, so a file copied from another module leaves them
// alone unless asked: a module moved to another rate drops off its line at
// its next power-up.
struct ConfigOptions {
    std::string file;
    bool dryRun = false;
    bool withLink = false;
};

bool Compared(const Setting& s, const ConfigOptions& o) { return o.withLink || !settings::IsLink(s); }

// The module's identity and every stored setting.
struct Stored {
    kv618::Identification identity;
    TKonfigurace settings = VychoziKonfigurace();
};

int ReadStored(const LinkSession& session, Stored& stored) {
    const auto identity = session.Module().Identify();
    if (!identity.ok()) return session.Fail(identity.error);
    stored.identity = identity.value;
    if (const uint8_t error = settings::ReadAll(session.Module(), stored.settings)) return session.Fail(error);
    return Done;
}

int ReadFileSettings(const std::string& path, settings::SavedFile& file) {
    std::string text;
    {
        // Standard input or a pipe may wait for ever: Ctrl-C ends the wait.
        interrupt::Promptly prompt;
        if (const auto f = files::Read(path, text, files::Kinds::Any); f.failed()) return Refuse(FileProblem(f));
    }
    auto parsed = settings::Parse(text);
    if (!parsed.ok())
        return Refuse(Fill(_("File %s, line %s: %s; nothing was written."), path, parsed.line(), parsed.message()));
    file = std::move(parsed.value());
    return Done;
}

// A file for another kind of module is refused; another version is only noted.
int CheckKind(const std::string& path, const settings::SavedFile& file, const kv618::Identification& identity) {
    const std::string name = Trimmed(identity.Name());
    if (!kv618::settings::SameKind(file, identity))
        return Refuse(Fill(_("File %s, line %s: the file is for module %s, module %s is connected; nothing was written."),
                           path, file.moduleLine, file.module, name));
    if (!kv618::settings::SameVersion(file, identity))
        Say(Fill(_("The file is from a module of version %s, the connected module has version %s."), file.version,
                 Trimmed(identity.Version())));
    return Done;
}

// The settings under the keys of the settings file, as numbers: the rate in
// Bd (null for an index the module should not hold).
nlohmann::ordered_json SettingsJson(const LinkSession& session, const Stored& stored) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const Setting& s : settings::All()) {
        const uint32_t value = settings::ValueOf(s, stored.settings);
        if (s.kind != settings::Kind::Rate) values[s.key] = value;
        else if (value < wire::BaudRates.size()) values[s.key] = wire::BaudRates[value];
        else values[s.key] = nullptr;
    }
    return {{"module", IdentityJson(stored.identity, session.Address())}, {"settings", values}};
}

int Show(const LinkSession& session, bool json) {
    Stored stored;
    if (const int status = ReadStored(session, stored); status != Done) return status;
    if (json) return PrintJson(SettingsJson(session, stored));
    PrintLine(Padded(_("Module"), LabelWidth) + stored.identity.Text());
    for (const Setting& s : settings::All()) {
        const uint32_t value = settings::ValueOf(s, stored.settings);
        std::string text = settings::ValueText(s, value);
        if (s.kind == settings::Kind::Rate) text += " Bd";
        if (s.kind == settings::Kind::Bits) text += "  " + Bits32(value);
        PrintLine(Padded(_(s.label), LabelWidth) + text);
    }
    PrintLine(_("Bits are printed from 31 on the left to 0 on the right (DIN0, DOUT0 = bit 0)."));
    return Done;
}

int Save(const LinkSession& session, const std::string& path) {
    Stored stored;
    if (const int status = ReadStored(session, stored); status != Done) return status;
    const std::string text = settings::Compose(stored.identity, stored.settings, std::chrono::system_clock::now());
    if (path == "-") return PrintLine(text.substr(0, text.size() - 1)) ? Done : Failed;
    if (const auto f = files::Replace(path, text); f.failed()) return Fail(FileProblem(f));
    Confirm(Fill(_("Settings of module %s saved to %s."), stored.identity.Text(), path));
    return Done;
}

// Opens the link, checks that the file is for this module and reads what the
// module holds now.
int Prepare(const LinkOptions& link, const ConfigOptions& o, settings::SavedFile& file,
            std::unique_ptr<LinkSession>& session, Stored& stored) {
    int status = ReadFileSettings(o.file, file);
    if (status != Done) return status;
    if (!(session = LinkSession::Open(link, status))) return status;
    const auto identity = session->Module().Identify();
    if (!identity.ok()) return session->Fail(identity.error);
    if ((status = CheckKind(o.file, file, identity.value)) != Done) return status;
    return ReadStored(*session, stored);
}

std::string Change(const Setting& s, uint32_t from, uint32_t to) {
    return std::string(s.key) + ": " + settings::ValueText(s, from) + " -> " + settings::ValueText(s, to);
}

int Diff(const LinkOptions& link, const ConfigOptions& o) {
    settings::SavedFile file;
    std::unique_ptr<LinkSession> session;
    Stored stored;
    if (const int status = Prepare(link, o, file, session, stored); status != Done) return status;
    bool differs = false;
    for (const Setting& s : settings::All()) {
        const uint32_t wanted = settings::ValueOf(s, file.settings), held = settings::ValueOf(s, stored.settings);
        if (!Compared(s, o) || wanted == held) continue;
        differs = true;
        PrintLine(Fill(_("%s: file %s, module %s"), s.key, settings::ValueText(s, wanted), settings::ValueText(s, held)));
    }
    return differs ? Differs : Done;
}

// Exactly where a write stopped: per setting, which bytes were written and
// verified, which one is uncertain and which were not written.
void ReportStop(const std::vector<uint8_t>& registers, const kv618::SequenceResult& result) {
    std::fputs(_("What was to be written:\n"), stderr);
    for (const auto& w : settings::WhatWasWritten(registers, result))
        std::fprintf(stderr, "  %s: %s\n", w.setting->key, settings::StateText(w, result.mismatch).c_str());
}

// "key: held (file: wanted)" for every link setting the file would change
// but is left alone without --with-link.
std::vector<std::string> LeftAlone(const settings::SavedFile& file, const Stored& stored, const ConfigOptions& o) {
    std::vector<std::string> left;
    for (const Setting& s : settings::All()) {
        const uint32_t wanted = settings::ValueOf(s, file.settings), held = settings::ValueOf(s, stored.settings);
        if (!Compared(s, o) && wanted != held)
            left.push_back(Fill(_("%s: %s (in the file %s)"), s.key, settings::ValueText(s, held),
                                settings::ValueText(s, wanted)));
    }
    return left;
}

void ReportLeftAlone(const std::vector<std::string>& left) {
    if (left.empty()) return;
    PrintLine(_("The module's address and rate stay (only --with-link writes them):"));
    for (const auto& l : left) PrintLine("  " + l);
}

// "key: old -> new" for every setting the file would change.
std::vector<std::string> Changes(const settings::SavedFile& file, const Stored& stored, const ConfigOptions& o) {
    std::vector<std::string> changes;
    for (const Setting& s : settings::All()) {
        const uint32_t wanted = settings::ValueOf(s, file.settings), held = settings::ValueOf(s, stored.settings);
        if (Compared(s, o) && wanted != held) changes.push_back(Change(s, held, wanted));
    }
    return changes;
}

using settings::Stop;

int ReportFailure(const LinkSession& session, const std::vector<uint8_t>& registers, const kv618::SequenceResult& r,
                  Stop stop) {
    if (stop == Stop::AfterBlock) Say(_("Interrupted (Ctrl-C) after a finished and verified block; the rest was not written."));
    else if (stop == Stop::AtOnce) Say(_("Interrupted by a second Ctrl-C; writing stopped at once."));
    else if (r.stopped) Say(_("Interrupted; writing stopped."));
    else Say(r.mismatch ? _("Data write error.") : session.Text(r.error));
    ReportStop(registers, r);
    if (r.stopped) {
        const size_t done = static_cast<size_t>(r.done);
        if (done > 0) std::fputs(Fill(_("Registers %s have new values.\n"), kv618::settings::RegisterList(registers, 0, done)).c_str(), stderr);
        if (done < registers.size())
            std::fputs(Fill(_("Registers %s kept their old values.\n"), kv618::settings::RegisterList(registers, done)).c_str(),
                       stderr);
    }
    return r.stopped ? Interrupted : Failed;
}

void ReportSuccess(const std::vector<std::string>& changes, const std::vector<uint8_t>& registers) {
    for (const auto& c : changes) PrintLine(c);
    PrintLine(Fill(_("Written and verified by reading: %s settings."), changes.size()));
    const bool reached = std::any_of(registers.begin(), registers.end(),
                                     [](uint8_t r) { return kv618::BlockOf(r) == kv618::Block::AddressAndBaud; });
    if (reached) PrintLine(_("The address and the rate take effect at the module's next power-up."));
}

int Load(const LinkOptions& link, const ConfigOptions& o) {
    settings::SavedFile file;
    std::unique_ptr<LinkSession> session;
    Stored stored;
    if (const int status = Prepare(link, o, file, session, stored); status != Done) return status;
    const std::vector<std::string> changes = Changes(file, stored, o);
    const std::vector<std::string> left = LeftAlone(file, stored, o);
    if (changes.empty()) {
        PrintLine(_("The module already has the file's settings; nothing was written."));
        ReportLeftAlone(left);
        return Done;
    }
    if (o.dryRun) {
        PrintLine(_("Would be written (--dry-run, nothing was written):"));
        for (const auto& c : changes) PrintLine("  " + c);
        ReportLeftAlone(left);
        return Done;
    }
    if (interrupt::Requested()) {
        Say(_("Interrupted (Ctrl-C) before the write; nothing was written."));
        return Interrupted;
    }
    const auto registers = settings::RegistersToWrite(file.settings, stored.settings, o.withLink);
    Stop stop = Stop::None;
    const auto result = settings::WriteVerified(session->Module(), registers, file.settings, stop, [] {
        Say(_("Ctrl-C: the block of settings begun is finished and verified, then the write stops "
              "(another Ctrl-C stops it at once)."));
    });
    if (!result.ok()) return ReportFailure(*session, registers, result, stop);
    ReportSuccess(changes, registers);
    ReportLeftAlone(left);
    if (interrupt::Requested()) Say(_("Ctrl-C came during the write; the write was finished and verified."));
    return Done;
}

void AddFileOptions(CLI::App* sub, ConfigOptions& o, bool writes) {
    sub->add_option("FILE", o.file, _("Settings file (- = standard input)"))->required();
    sub->add_flag("--with-link", o.withLink,
                  writes ? _("Writes the module's address and rate too (otherwise the file leaves them)")
                         : _("Compares the module's address and rate too"));
    // The older name, which now covers the rate too.
    sub->add_flag("--include-address", o.withLink)->group("");
    if (writes) sub->add_flag("--dry-run", o.dryRun, _("Only prints what would be written"));
}

}  // namespace

void AddConfig(Tool& tool) {
    CLI::App* config = tool.AddGroup("config", _("The settings stored in the module"));
    CLI::App* show = config->add_subcommand("show", _("Prints the settings as a table"));
    tool.AddJson(show);
    tool.WhenLinked(show, [&tool](LinkSession& session) { return Show(session, tool.json); });

    auto path = std::make_shared<std::string>();
    CLI::App* save = config->add_subcommand("save", _("Saves every setting with the module's identification and the date to a file"));
    save->add_option("FILE", *path, _("File (- = standard output)"))->required();
    tool.WhenLinked(save, [path](LinkSession& session) { return Save(session, *path); });

    auto diff = std::make_shared<ConfigOptions>();
    CLI::App* diffCommand = config->add_subcommand("diff", _("Compares the module with a file (exit status 3: they differ)"));
    AddFileOptions(diffCommand, *diff, false);
    tool.When(diffCommand, [&tool, diff] { return Diff(tool.link, *diff); });

    auto load = std::make_shared<ConfigOptions>();
    CLI::App* loadCommand =
        config->add_subcommand("load", _("Writes from a file what differs, and verifies each write by reading"));
    AddFileOptions(loadCommand, *load, true);
    tool.When(loadCommand, [&tool, load] { return Load(tool.link, *load); });
}

}  // namespace cli
