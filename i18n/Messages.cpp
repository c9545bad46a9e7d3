#include "Messages.h"

#include "Catalogue.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <libintl.h>
#include <string>
#include <unistd.h>

namespace i18n {

namespace {

// The folder of this executable, resolved through the symbolic link in bin.
std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string program(path, static_cast<size_t>(n));
    return program.substr(0, program.rfind('/'));
}

bool IsFolder(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The build tree keeps the catalogues beside the tools (bin/locale); an
// installation under its prefix's share/locale.
std::string CatalogueFolder() {
    const std::string folder = ProgramFolder();
    if (!folder.empty()) {
        if (IsFolder(folder + "/locale")) return folder + "/locale";
        if (IsFolder(folder + "/" KV_LOCALE_FROM_PROGRAM)) return folder + "/" KV_LOCALE_FROM_PROGRAM;
    }
    return "/usr/share/locale";
}

// The locale the environment asks for, as setlocale reads it.
std::string AskedLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(name); value && *value) return value;
    return {};
}

bool NamesUtf8(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.find("utf-8") != std::string::npos || name.find("utf8") != std::string::npos;
}

// Only the messages follow the locale, in its character set: numbers, times
// and order stay as the tools document them, whatever the locale.  The other
// categories are not even loaded, which spares a one-shot command a dozen files.
bool FollowTheLocale(const char* name) {
    return std::setlocale(LC_CTYPE, name) && std::setlocale(LC_MESSAGES, name);
}

// The C locale has no language to translate into: the tools keep their
// English without loading a locale or looking for catalogues, which is most
// of what a one-shot command run from a script would spend here.  LANGUAGE
// counts beside C.UTF-8 (as Debian 12's gettext has it), not beside C itself.
bool AsksForNoLanguage(const std::string& asked) {
    if (asked.empty() || asked == "C" || asked == "POSIX") return true;
    const char* language = std::getenv("LANGUAGE");
    return asked.rfind("C.", 0) == 0 && (!language || !*language);
}

// Whether LC_MESSAGES is C.UTF-8 (or another C.*), where the C library's
// gettext may translate nothing.
bool MessagesInC() {
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    return !messages || std::string(messages).rfind("C.", 0) == 0;
}

// The languages wanted when the locale itself cannot give one: the
// LANGUAGE list where it is set, else the asked locale's language.  Each
// entry is tried whole (cs_CZ), then as its language alone (cs).
Catalogue OwnCatalogue(const std::string& asked) {
    const char* language = std::getenv("LANGUAGE");
    std::string list = language && *language ? language : asked.substr(0, asked.find_first_of(".@"));
    Catalogue catalogue;
    const std::string folder = CatalogueFolder();
    for (size_t from = 0; from <= list.size();) {
        const size_t end = std::min(list.find(':', from), list.size());
        const std::string entry = list.substr(from, end - from);
        from = end + 1;
        if (entry.empty()) continue;
        for (const std::string& name : {entry, entry.substr(0, entry.find_first_of("_.@"))})
            if (catalogue.Load(folder + "/" + name + "/LC_MESSAGES/" KV_TEXT_DOMAIN ".mo")) return catalogue;
    }
    return catalogue;
}

// How this copy of the library translates: not at all (English, where the
// catalogues are not even asked), through gettext in a locale of the
// machine, or from a catalogue it read itself.  A plug-in holds a copy of
// its own and starts it too.
enum class Translation { None, Gettext, Own };
Translation translation = Translation::None;
Catalogue own;

}  // namespace

// A UTF-8 locale that was never generated on this machine (cs_CZ.UTF-8 on a
// minimal system) would leave the tools in the C locale and in English: its
// language is taken all the same, in the C library's own UTF-8 locale.  There
// the tools read the catalogue themselves, as they do for LANGUAGE beside
// C.UTF-8: Debian 13's gettext translates nothing in C.UTF-8.
void Start() {
    const std::string asked = AskedLocale();
    if (AsksForNoLanguage(asked)) return;
    if (FollowTheLocale("") && !MessagesInC()) {
        translation = Translation::Gettext;
        ::bindtextdomain(KV_TEXT_DOMAIN, CatalogueFolder().c_str());
        ::textdomain(KV_TEXT_DOMAIN);
        return;
    }
    if (!NamesUtf8(asked) || !FollowTheLocale("C.UTF-8")) return;
    own = OwnCatalogue(asked);
    if (own.Loaded()) translation = Translation::Own;
}

// Before Start, or in the C locale, the text comes back as it is.
const char* Tr(const char* english) {
    if (translation == Translation::Gettext) return ::dgettext(KV_TEXT_DOMAIN, english);
    if (translation == Translation::Own)
        if (const char* text = own.Find(english)) return text;
    return english;
}

namespace detail {

std::string Fill(std::string_view pattern, const std::string* values, size_t count) {
    std::string text;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 's') {
                if (next < count) text += values[next++];
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                text += '%';
                ++i;
                continue;
            }
        }
        text += pattern[i];
    }
    return text;
}

}  // namespace detail

}  // namespace i18n
