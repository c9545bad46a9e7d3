#include "CommandLine.h"

#include <algorithm>

namespace cli {

namespace {

bool AsksForHelp(std::string_view word) { return word == "-h" || word == "--help" || word == "--help-all"; }

}  // namespace

CommandLine::CommandLine(int argc, char** argv, bool (*isCommand)(std::string_view word)) : words_(argv + 1, argv + argc) {
    const bool help = std::any_of(words_.begin(), words_.end(), AsksForHelp);
    whole_ = help || std::none_of(words_.begin(), words_.end(), isCommand);
}

bool CommandLine::Builds(std::string_view command) const {
    return whole_ || std::find(words_.begin(), words_.end(), command) != words_.end();
}

bool CommandLine::BuildsOption(std::string_view names) const {
    if (whole_) return true;
    while (!names.empty()) {
        const size_t comma = names.find(',');
        if (Names(names.substr(0, comma))) return true;
        names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
    }
    return false;
}

bool CommandLine::Names(std::string_view name) const {
    if (name.size() < 2 || name[0] != '-') return true;  // a positional: taken by its place, not its name
    if (name[1] == '-') {
        return std::any_of(words_.begin(), words_.end(), [&](std::string_view word) {
            return word.substr(0, name.size()) == name && (word.size() == name.size() || word[name.size()] == '=');
        });
    }
    return std::any_of(words_.begin(), words_.end(), [&](std::string_view word) {
        return word.size() >= 2 && word[0] == '-' && word[1] != '-' && word.find(name[1], 1) != std::string_view::npos;
    });
}

}  // namespace cli
