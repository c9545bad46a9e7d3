// kv618 plant: every module the bridge's configuration file lists, audited,
// saved or set up in one run.  The lines work side by side, a thread each;
// on one line the modules take their turn, one request at a time.  The run
// fills one Result per module; PlantReport.cpp turns them into the table,
// the JSON and the exit status (every text the operator reads is there).
#pragma once

#include "Config.h"
#include "Module.h"
#include "Settings.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cli::plant {

enum class Command { Audit, Snapshot, Apply };

struct Options {
    std::string file;
    std::string folder;  // snapshot
    bool dryRun = false;
    bool withLink = false;
    bool json = false;
};

// A module of the plant with the settings it should hold: those of its
// `settings` file, with the address and the rate of its own section (the
// file may be shared by many modules; the section says where this one is).
struct Target {
    const kvbridge::ModuleConfig* config = nullptr;
    const kvbridge::LineConfig* line = nullptr;
    std::optional<settings::SavedFile> wanted;
};

// What became of one module.
enum class Verdict {
    NotReached,     // the run stopped (Ctrl-C) before its turn
    LineNotOpened,  // its line could not be opened
    NoAnswer,       // no identification
    ReadFailed,     // it answered, then a read failed
    OtherModule,    // its settings file is for another kind of module
    Matches,        // holds its settings (or has none named)
    Differs,        // audit, and apply --dry-run: what it holds differs
    Written,        // apply: what differed written and read back
    WriteFailed,    // apply: a write or its read-back failed, or Ctrl-C stopped it
    Saved,          // snapshot
    NotSaved,       // snapshot: the file could not be written
};

using settings::Difference;

struct Result {
    Verdict verdict = Verdict::NotReached;
    std::string reason;  // the library's text, or the file's problem
    std::optional<kv618::Identification> identity;
    bool otherVersion = false;  // than its settings file's; only noted
    std::vector<Difference> differences;  // before any write
    // apply: the registers to write and how far the write came
    std::vector<uint8_t> registers;
    kv618::SequenceResult write;
    settings::Stop stop = settings::Stop::None;
    std::vector<settings::SettingWrite> writes;
    std::string file;  // snapshot: where its settings went
};

struct Run {
    Command command = Command::Audit;
    Options options;
    kvbridge::Config config;
    std::vector<Target> targets;  // in the file's order, as config.modules
    std::vector<Result> results;
    bool interrupted = false;
};

// The table (or JSON) on standard output, and the exit status.
int Report(const Run& run);

// Progress on standard error while the lines work: only on a terminal.
class Progress {
public:
    explicit Progress(size_t total);
    ~Progress();
    void Started(const Target& target);
    void Finishing();  // Ctrl-C came during a write: it is finished first

private:
    std::mutex mutex_;
    size_t total_, started_ = 0;
    bool shown_;
    bool finishing_ = false;
};

// The texts the run itself says on standard error.
std::string PlantFileProblem(const std::string& message);
std::string SettingsFileProblem(const std::string& path, int line, const std::string& message);

}  // namespace cli::plant
