// The one reader of INI and "key = value" files: the program's settings file,
// the serial port map, the bridge's configuration and kv618's saved settings.
//
// A line is blank, a comment (starting with ";" or "#"), a section header
// ("[name]", anything after "]" ignored), an entry ("key = value", split at
// the first "=", both sides trimmed) or something else, which each format
// judges for itself.  Lines end in "\n" or "\r\n".  A file is UTF-8 when it
// starts with a byte-order mark or is valid UTF-8 beyond ASCII, else
// Windows-1250; names compare without regard to case, Czech letters included.
#pragma once

#include "Files.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace files {

// Without blanks (space, tab, CR, LF, VT, FF) at either end.
std::string_view Trim(std::string_view text);

struct IniLine {
    enum Kind { Blank, Comment, Section, Entry, Other } kind = Blank;
    int number = 0;               // from 1
    std::string_view text;        // the whole line, trimmed
    std::string_view name;        // Section: between the brackets, trimmed
    std::string_view key, value;  // Entry
};

// One line in any encoding that keeps ASCII as it is (UTF-8, Windows-1250).
IniLine ParseIniLine(std::string_view line, int number = 0);

// The lines without their ends; an unended last line counts, an empty text has none.
std::vector<std::string_view> SplitLines(std::string_view text);

struct Encoding {
    bool utf8 = false;
    bool bom = false;  // a UTF-8 byte-order mark stands first
};
Encoding EncodingOf(std::string_view bytes);
// The bytes as UTF-8 text, without a byte-order mark.
std::string DecodeText(std::string_view bytes);

// Czech letters and case aside; both in UTF-8.
bool SameName(std::string_view a, std::string_view b);

// A whole file's lines, its text in UTF-8.  Copies share the text.
class IniText {
public:
    IniText() = default;
    explicit IniText(std::string_view bytes);

    const std::vector<IniLine>& Lines() const { return lines_; }
    int LineCount() const { return static_cast<int>(lines_.size()); }
    // The value of the first entry named `key`, whatever its section.
    std::optional<std::string> FirstValue(std::string_view key) const;

private:
    std::shared_ptr<const std::string> text_;
    std::vector<IniLine> lines_;
};

// Reads a file (see Read) and decodes it; `kinds` as there.
Failure ReadIni(const std::string& path, IniText& out, Kinds kinds = Kinds::RegularOnly);

}  // namespace files
