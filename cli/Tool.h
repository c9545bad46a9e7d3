// The command line of kv618: its exit statuses, the parsed choice of
// subcommand and link, and the messages it leaves on standard error.
#pragma once

#include "CommandLine.h"
#include "LinkOptions.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace cli {

enum Exit : int {
    Done = 0,
    Failed = 1,         // the module, the link or a file failed
    Usage = 2,          // wrong usage: an unknown option, a bad value, a refused file
    Differs = 3,        // config diff, plant: settings differ from the file's, or a module is missing
    Interrupted = 130,  // Ctrl-C ended a scan, a load, a plant run or the setting of the clock
};

// What the command line chose; the action runs once the whole line parsed.
struct Tool {
    CLI::App app;
    LinkOptions link;
    std::function<int()> action;
    bool json = false;     // --json of the command that runs
    bool quiet = false;    // -q
    bool verbose = false;  // -v: the exchanges on standard error

    explicit Tool(const CommandLine& line);
    // A command of the list made of subcommands, one of which must be given
    // (`kv618 clock show`).
    CLI::App* AddGroup(const std::string& name, const std::string& description);
    // Makes `run` the action when the subcommand `sub` is given.
    void When(CLI::App* sub, std::function<int()> run);
    // The same for an action on the link the options name, opened first.
    void WhenLinked(CLI::App* sub, std::function<int(LinkSession&)> run);
    // Gives `sub` the --json option: one JSON document on standard output.
    CLI::Option* AddJson(CLI::App* sub);
};

// Opens the link the options name and runs `work` on it: its exit status,
// or the failure to open (already said on stderr).
template <typename Work>
int WithSession(const LinkOptions& options, Work&& work) {
    int status = Done;
    const auto session = LinkSession::Open(options, status);
    return session ? work(*session) : status;
}

// "kv618: text" on standard error: errors and warnings.
void Say(const std::string& text);
int Fail(const std::string& text);    // Say, then Failed
int Refuse(const std::string& text);  // Say, then Usage
// What is only worth knowing, on standard error, and what a command reports
// done, on standard output: both silent with -q.
void Note(const std::string& text);
void Confirm(const std::string& text);
bool Noted();  // whether notes are shown (no -q)
// One JSON document on one line of standard output; Failed when the output is gone.
int PrintJson(const nlohmann::ordered_json& document);
// A CLI11 check that the value is one of `names`, refused in the operator's language.
CLI::Validator OneOf(std::vector<std::string> names);

// The commands, each added to the line by its own function.
void AddIdentify(Tool& tool);
void AddOutputs(Tool& tool);         // out
void AddReset(Tool& tool);
void AddClock(Tool& tool);
void AddPowerFailures(Tool& tool);
void AddScan(Tool& tool);
void AddConfig(Tool& tool);
void AddWatch(Tool& tool);
void AddPorts(Tool& tool);
void AddBridge(Tool& tool);          // the MQTT bridge (bridge/)
void AddPlant(Tool& tool);           // every module of a plant file

int Run(int argc, char** argv);

}  // namespace cli
