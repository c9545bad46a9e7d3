#include "Places.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace files {

namespace {

constexpr const char* ProgramFolderName = "r_iv618";

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

}  // namespace

std::string UserSettingsFolder() {
    // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/" + ProgramFolderName;
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    return home + "/.config/" + ProgramFolderName;
}

std::string UserStateFolder(const std::string& name) {
    // A relative XDG_STATE_HOME is to be ignored, as the base directory rules say.
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/" + name;
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    return home + "/.local/state/" + name;
}

}  // namespace files
