#include "Command.h"

#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

extern char** environ;

namespace kvtest {

std::vector<std::string> ChildEnvironment(const Environment& extra, const std::vector<std::string>& dropped) {
    std::vector<std::string> merged;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool replaced =
            std::any_of(extra.begin(), extra.end(), [&](const auto& variable) { return variable.first == name; });
        if (!replaced && std::find(dropped.begin(), dropped.end(), name) == dropped.end()) merged.push_back(entry);
    }
    for (const auto& [name, value] : extra) merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::pair<int, std::string> RunShell(const std::string& command) {
    FILE* out = ::popen((command + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[4096];
    while (out && std::fgets(buffer, sizeof buffer, out)) text += buffer;
    const int status = out ? ::pclose(out) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

}  // namespace kvtest
