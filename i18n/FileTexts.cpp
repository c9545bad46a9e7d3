#include "FileTexts.h"

#include "Messages.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace i18n {

namespace {

using Kind = files::Failure::Kind;

// In each text, %s is the system's text of the errno; the Czech of a
// folder names the folder first.
struct Words {
    Kind kind;
    const char* reason;   // English, translated; null: the system's text alone
    const char* problem;  // English, translated; the file's name, then the system's text
    const char* czech;    // the windows' own
};

constexpr std::array<Words, 10> Table = {{
    {Kind::None, nullptr, "", ""},
    {Kind::Missing, nullptr, N_("Cannot read file %s (%s)"), "soubor nelze přečíst (%s)"},
    {Kind::CannotRead, nullptr, N_("Cannot read file %s (%s)"), "soubor nelze přečíst (%s), nic se nezapsalo"},
    {Kind::NotRegular, N_("not a regular file"), N_("File %s is not a regular file; nothing was written"),
     "není to obyčejný soubor"},
    {Kind::TooLarge, N_("file too large"), N_("File %s is too large (over 1 MiB)"),
     "soubor je příliš velký (nad 1 MiB), nic se nezapsalo"},
    // Read-only by its mode (no errno), or refused by the system.
    {Kind::ReadOnly, N_("the file is read-only"), N_("File %s is read-only; nothing was written"),
     "soubor je jen pro čtení (%s)"},
    {Kind::CannotCreate, nullptr, N_("Cannot write file %s (%s)"), "dočasný soubor nelze vytvořit (%s)"},
    {Kind::CannotWrite, nullptr, N_("Cannot write file %s (%s)"), "zápis selhal (%s)"},
    {Kind::CannotReplace, nullptr, N_("Cannot write file %s (%s)"), "soubor nelze nahradit (%s)"},
    {Kind::CannotMakeFolder, nullptr, N_("Cannot create folder %s (%s)"), "složku %s nelze vytvořit (%s)"},
}};

constexpr bool TableFollowsTheKinds() {
    for (size_t i = 0; i < Table.size(); ++i)
        if (Table[i].kind != static_cast<Kind>(i)) return false;
    return true;
}
static_assert(TableFollowsTheKinds());

const Words& WordsOf(const files::Failure& f) { return Table[static_cast<size_t>(f.kind)]; }

std::string SystemText(int error) { return std::strerror(error); }

}  // namespace

std::string FileReason(const files::Failure& f) {
    if (f.kind == Kind::None) return {};
    const Words& w = WordsOf(f);
    if (!w.reason || (f.kind == Kind::ReadOnly && f.error != 0)) return SystemText(f.error);
    return Tr(w.reason);
}

std::string FileProblem(const files::Failure& f) {
    if (f.kind == Kind::None) return {};
    return Fill(Tr(WordsOf(f).problem), f.path, SystemText(f.error));
}

std::string FileReasonCzech(const files::Failure& f) {
    const Words& w = WordsOf(f);
    if (f.kind == Kind::CannotMakeFolder) return Fill(w.czech, f.path, SystemText(f.error));
    // A file read-only by its mode is refused as the system would refuse it.
    const int error = f.kind == Kind::ReadOnly && f.error == 0 ? EACCES : f.error;
    return Fill(w.czech, SystemText(error));
}

}  // namespace i18n
