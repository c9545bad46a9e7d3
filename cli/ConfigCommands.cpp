// config show | save | diff | load: the module's stored settings as a table,
// as a file, compared with a file, and written from a file.
#include "Files.h"
#include "Format.h"
#include "Interrupt.h"
#include "SettingsFile.h"
#include "SettingsWrite.h"
#include "StoredSettings.h"
#include "Tool.h"

#include <algorithm>
#include <cstdio>

namespace cli {

namespace {

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

int ReadStored(const Session& session, Stored& stored) {
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
        return Refuse("Soubor " + path + ", řádek " + std::to_string(parsed.line()) + ": " + parsed.message() +
                      "; nic se nezapsalo.");
    file = std::move(parsed.value());
    return Done;
}

// A file for another kind of module is refused; another version is only noted.
int CheckKind(const std::string& path, const settings::SavedFile& file, const kv618::Identification& identity) {
    const std::string name = Trimmed(identity.Name());
    if (file.module != name)
        return Refuse("Soubor " + path + ", řádek " + std::to_string(file.moduleLine) + ": soubor je pro modul " +
                      file.module + ", připojen je modul " + name + "; nic se nezapsalo.");
    if (file.version != Trimmed(identity.Version()))
        Say("Soubor je z modulu verze " + file.version + ", připojený modul má verzi " + Trimmed(identity.Version()) +
            ".");
    return Done;
}

int Show(const LinkOptions& link) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    Stored stored;
    if ((status = ReadStored(*session, stored)) != Done) return status;
    PrintLine(Padded("Modul", LabelWidth) + stored.identity.Text());
    for (const Setting& s : settings::All()) {
        const uint32_t value = settings::ValueOf(s, stored.settings);
        std::string text = settings::ValueText(s, value);
        if (s.kind == settings::Kind::Rate) text += " Bd";
        if (s.kind == settings::Kind::Bits) text += "  " + Bits32(value);
        PrintLine(Padded(s.label, LabelWidth) + text);
    }
    PrintLine("Bity se vypisují od 31 vlevo do 0 vpravo (DIN0, DOUT0 = bit 0).");
    return Done;
}

int Save(const LinkOptions& link, const std::string& path) {
    int status = Done;
    const auto session = Session::Open(link, status);
    if (!session) return status;
    Stored stored;
    if ((status = ReadStored(*session, stored)) != Done) return status;
    const std::string text = settings::Compose(stored.identity, stored.settings, std::chrono::system_clock::now());
    if (path == "-") return PrintLine(text.substr(0, text.size() - 1)) ? Done : Failed;
    if (const auto f = files::Replace(path, text); f.failed()) return Fail(FileProblem(f));
    PrintLine("Nastavení modulu " + stored.identity.Text() + " uloženo do " + path + ".");
    return Done;
}

// Opens the link, checks that the file is for this module and reads what the
// module holds now.
int Prepare(const LinkOptions& link, const ConfigOptions& o, settings::SavedFile& file,
            std::unique_ptr<Session>& session, Stored& stored) {
    int status = ReadFileSettings(o.file, file);
    if (status != Done) return status;
    if (!(session = Session::Open(link, status))) return status;
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
    std::unique_ptr<Session> session;
    Stored stored;
    if (const int status = Prepare(link, o, file, session, stored); status != Done) return status;
    bool differs = false;
    for (const Setting& s : settings::All()) {
        const uint32_t wanted = settings::ValueOf(s, file.settings), held = settings::ValueOf(s, stored.settings);
        if (!Compared(s, o) || wanted == held) continue;
        differs = true;
        PrintLine(std::string(s.key) + ": soubor " + settings::ValueText(s, wanted) + ", modul " +
                  settings::ValueText(s, held));
    }
    return differs ? Differs : Done;
}

// "bajt 2 zapsán", "bajty 0, 1 zapsány"
std::string Bytes(const std::vector<size_t>& bytes, const char* one, const char* more) {
    std::string text = bytes.size() == 1 ? "bajt " : "bajty ";
    for (size_t i = 0; i < bytes.size(); ++i) text += (i ? ", " : "") + std::to_string(bytes[i]);
    return text + " " + (bytes.size() == 1 ? one : more);
}

// What became of one setting when the write stopped.
std::string SettingState(const settings::SettingWrite& w, bool mismatch) {
    using settings::ByteState;
    const Setting& s = *w.setting;
    std::vector<size_t> written, left;
    std::optional<size_t> uncertain;
    for (size_t byte = 0; byte < w.bytes.size(); ++byte) {
        if (w.bytes[byte] == ByteState::Written) written.push_back(byte);
        if (w.bytes[byte] == ByteState::Uncertain) uncertain = byte;
        if (w.bytes[byte] == ByteState::Left) left.push_back(byte);
    }
    const char* failure = mismatch ? "se po zápisu přečetl jinak" : "není jistý (zápis nebo jeho kontrola selhala)";
    if (!uncertain && left.empty()) return "zapsáno a ověřeno";
    if (!uncertain && written.empty()) return "nezapsáno";
    if (s.registers.size() == 1)
        return mismatch ? "po zápisu se přečetla jiná hodnota" : "není jisté (zápis nebo jeho kontrola selhala)";
    std::vector<std::string> parts;
    if (!written.empty()) parts.push_back(Bytes(written, "zapsán a ověřen", "zapsány a ověřeny"));
    if (uncertain) parts.push_back("bajt " + std::to_string(*uncertain) + " " + failure);
    if (!left.empty()) parts.push_back(Bytes(left, "nezapsán", "nezapsány"));
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

// Exactly where a write stopped: per setting, which bytes were written and
// verified, which one is uncertain and which were not written.
void ReportStop(const std::vector<uint8_t>& registers, const kv618::SequenceResult& result) {
    std::fputs("Co se mělo zapsat:\n", stderr);
    for (const auto& w : settings::WhatWasWritten(registers, result))
        std::fprintf(stderr, "  %s: %s\n", w.setting->key, SettingState(w, result.mismatch).c_str());
}

// "key: held (file: wanted)" for every link setting the file would change
// but is left alone without --with-link.
std::vector<std::string> LeftAlone(const settings::SavedFile& file, const Stored& stored, const ConfigOptions& o) {
    std::vector<std::string> left;
    for (const Setting& s : settings::All()) {
        const uint32_t wanted = settings::ValueOf(s, file.settings), held = settings::ValueOf(s, stored.settings);
        if (!Compared(s, o) && wanted != held)
            left.push_back(std::string(s.key) + ": " + settings::ValueText(s, held) + " (v souboru " +
                           settings::ValueText(s, wanted) + ")");
    }
    return left;
}

void ReportLeftAlone(const std::vector<std::string>& left) {
    if (left.empty()) return;
    PrintLine("Adresa a rychlost modulu zůstávají (zapíše je jen --with-link):");
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

std::string RegisterList(const std::vector<uint8_t>& registers, size_t from, size_t to) {
    std::string list;
    char text[8];
    for (size_t i = from; i < to; ++i) {
        std::snprintf(text, sizeof text, "0x%02X", registers[i]);
        list += (list.empty() ? "" : ", ") + std::string(text);
    }
    return list;
}

using settings::Stop;

int ReportFailure(const Session& session, const std::vector<uint8_t>& registers, const kv618::SequenceResult& r,
                  Stop stop) {
    if (stop == Stop::AfterBlock) Say("Přerušeno (Ctrl-C) po dopsaném a ověřeném bloku; zbytek se nezapsal.");
    else if (stop == Stop::AtOnce) Say("Přerušeno druhým Ctrl-C; zapisování se zastavilo hned.");
    else if (r.stopped) Say("Přerušeno; zapisování se zastavilo.");
    else Say(r.mismatch ? "Chyba zápisu dat." : session.Text(r.error));
    ReportStop(registers, r);
    if (r.stopped) {
        const size_t done = static_cast<size_t>(r.done);
        if (done > 0) std::fprintf(stderr, "Nové hodnoty mají registry %s.\n", RegisterList(registers, 0, done).c_str());
        if (done < registers.size())
            std::fprintf(stderr, "Staré hodnoty zůstaly v registrech %s.\n",
                         RegisterList(registers, done, registers.size()).c_str());
    }
    return r.stopped ? Interrupted : Failed;
}

void ReportSuccess(const std::vector<std::string>& changes, const std::vector<uint8_t>& registers) {
    for (const auto& c : changes) PrintLine(c);
    PrintLine("Zapsáno a ověřeno čtením: " + std::to_string(changes.size()) + " nastavení.");
    const bool reached = std::any_of(registers.begin(), registers.end(),
                                     [](uint8_t r) { return kv618::BlockOf(r) == kv618::Block::AddressAndBaud; });
    if (reached) PrintLine("Adresa a rychlost platí od příštího zapnutí modulu.");
}

int Load(const LinkOptions& link, const ConfigOptions& o) {
    settings::SavedFile file;
    std::unique_ptr<Session> session;
    Stored stored;
    if (const int status = Prepare(link, o, file, session, stored); status != Done) return status;
    const std::vector<std::string> changes = Changes(file, stored, o);
    const std::vector<std::string> left = LeftAlone(file, stored, o);
    if (changes.empty()) {
        PrintLine("Modul už má nastavení ze souboru; nic se nezapsalo.");
        ReportLeftAlone(left);
        return Done;
    }
    if (o.dryRun) {
        PrintLine("Zapsalo by se (--dry-run, nic se nezapsalo):");
        for (const auto& c : changes) PrintLine("  " + c);
        ReportLeftAlone(left);
        return Done;
    }
    if (interrupt::Requested()) {
        Say("Přerušeno (Ctrl-C) před zápisem; nic se nezapsalo.");
        return Interrupted;
    }
    const auto registers = settings::RegistersToWrite(file.settings, stored.settings, o.withLink);
    Stop stop = Stop::None;
    const auto result = settings::WriteVerified(session->Module(), registers, file.settings, stop, [] {
        Say("Ctrl-C: rozepsaný blok nastavení se dopíše a ověří, pak se zápis zastaví "
            "(další Ctrl-C ho zastaví hned).");
    });
    if (!result.ok()) return ReportFailure(*session, registers, result, stop);
    ReportSuccess(changes, registers);
    ReportLeftAlone(left);
    if (interrupt::Requested()) Say("Ctrl-C přišel během zápisu; zápis byl dokončen a ověřen.");
    return Done;
}

void AddFileOptions(CLI::App* sub, ConfigOptions& o, bool writes) {
    sub->add_option("FILE", o.file, "Soubor nastavení (- = standardní vstup)")->required();
    sub->add_flag("--with-link", o.withLink,
                  writes ? "Zapíše i adresu a rychlost modulu (jinak je soubor nemění)"
                         : "Porovná i adresu a rychlost modulu");
    // The older name, which now covers the rate too.
    sub->add_flag("--include-address", o.withLink)->group("");
    if (writes) sub->add_flag("--dry-run", o.dryRun, "Jen vypíše, co by se zapsalo");
}

}  // namespace

void AddConfig(Tool& tool) {
    CLI::App* config = tool.app.add_subcommand("config", "Nastavení uložená v modulu");
    config->group("Příkazy");
    config->require_subcommand(1);
    tool.When(config->add_subcommand("show", "Vypíše nastavení jako tabulku"), [&tool] { return Show(tool.link); });

    auto path = std::make_shared<std::string>();
    CLI::App* save = config->add_subcommand("save", "Uloží všechna nastavení s identifikací modulu a datem do souboru");
    save->add_option("FILE", *path, "Soubor (- = standardní výstup)")->required();
    tool.When(save, [&tool, path] { return Save(tool.link, *path); });

    auto diff = std::make_shared<ConfigOptions>();
    CLI::App* diffCommand = config->add_subcommand("diff", "Porovná modul se souborem (návratový kód 3: liší se)");
    AddFileOptions(diffCommand, *diff, false);
    tool.When(diffCommand, [&tool, diff] { return Diff(tool.link, *diff); });

    auto load = std::make_shared<ConfigOptions>();
    CLI::App* loadCommand =
        config->add_subcommand("load", "Zapíše ze souboru, co se liší, a každý zápis ověří čtením");
    AddFileOptions(loadCommand, *load, true);
    tool.When(loadCommand, [&tool, load] { return Load(tool.link, *load); });
}

}  // namespace cli
