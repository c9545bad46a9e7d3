#include "OutputRecord.h"

#include "AtomicFile.h"
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
    if (!ReadWholeFile(RecordFile(), text).empty()) return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (const auto value = ValueOfLine(line, module)) return value;
    return std::nullopt;
}

std::string Record(const std::string& module, std::optional<uint32_t> value) {
    const std::string file = RecordFile();
    std::string text, kept;
    ReadWholeFile(file, text);  // a missing record is an empty one
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line.find(' ') != std::string::npos && line.substr(line.find(' ') + 1) != module)
            kept += line + "\n";
    if (value) kept += Hex32(*value) + " " + module + "\n";
    if (std::string problem = MakeFolders(file.substr(0, file.rfind('/'))); !problem.empty()) return problem;
    return ReplaceFile(file, kept, 0600);
}

}  // namespace cli::outputs
