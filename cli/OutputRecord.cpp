#include "OutputRecord.h"

#include "Files.h"
#include "Format.h"

#include <cstdlib>
#include <sstream>

namespace cli::outputs {

namespace {

// One line per module: the value, a blank, the module's line and address.
std::optional<uint32_t> ValueOfLine(const std::string& line, const std::string& module) {
    const auto blank = line.find(' ');
    if (blank == std::string::npos || line.substr(blank + 1) != module) return std::nullopt;
    uint64_t value = 0;
    if (!ParseUnsigned(line.substr(0, blank), UINT32_MAX, value)) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::string RecordFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/r_iv618/outputs";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] == '/' ? home : "/tmp") + "/.local/state/r_iv618/outputs";
}

std::optional<uint32_t> Recorded(const std::string& module) {
    std::string text;
    if (files::Read(RecordFile(), text).failed()) return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (const auto value = ValueOfLine(line, module)) return value;
    return std::nullopt;
}

kv618::Outcome<> Record(const std::string& module, std::optional<uint32_t> value) {
    const std::string file = RecordFile();
    std::string text, kept;
    files::Read(file, text);  // a missing record is an empty one, and so is one that cannot be read
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line.find(' ') != std::string::npos && line.substr(line.find(' ') + 1) != module)
            kept += line + "\n";
    if (value) kept += Hex32(*value) + " " + module + "\n";
    if (const auto f = files::MakeFolders(files::FolderOf(file)); f.failed()) return kv618::Failed{FileProblem(f)};
    if (const auto f = files::Replace(file, kept, 0600); f.failed()) return kv618::Failed{FileProblem(f)};
    return {};
}

}  // namespace cli::outputs
