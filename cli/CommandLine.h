// Which commands and options a command line names.  A one-shot command
// should cost little more than starting a process, and building CLI11's
// options is most of what kv618 adds to that: a line builds only the command
// it names and the options it may name.  Help, and a line that names no
// command, build everything, so that help lists it all and a wrong line is
// refused as it always was.
#pragma once

#include <string_view>
#include <vector>

namespace cli {

class CommandLine {
public:
    // `isCommand` tells a command's name from any other word.
    CommandLine(int argc, char** argv, bool (*isCommand)(std::string_view word));

    // Help, or no command: everything is built.
    bool Whole() const { return whole_; }
    // Whether `command` is built: named as a word of its own (an option's
    // value that looks like one costs no more than an extra command).
    bool Builds(std::string_view command) const;
    // Whether an option of these CLI11 names ("-a,--address") is built.  A
    // long name counts as "--address" or "--address=1", a short one as any
    // word of single-dash letters that holds it ("-a", "-a1", "-qa"): more
    // than CLI11 would take, never less, so no line parses otherwise.
    bool BuildsOption(std::string_view names) const;

private:
    bool Names(std::string_view name) const;

    std::vector<std::string_view> words_;
    bool whole_ = true;
};

}  // namespace cli
