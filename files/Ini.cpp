#include "Ini.h"

#include "Kodovani.h"

namespace files {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::string_view Trim(std::string_view text) {
    while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
    return text;
}

IniLine ParseIniLine(std::string_view line, int number) {
    IniLine l;
    l.number = number;
    l.text = Trim(line);
    if (l.text.empty()) return l;
    if (l.text.front() == ';' || l.text.front() == '#') {
        l.kind = IniLine::Comment;
        return l;
    }
    if (l.text.front() == '[') {
        const auto end = l.text.find(']');
        if (end != std::string_view::npos) {
            l.kind = IniLine::Section;
            l.name = Trim(l.text.substr(1, end - 1));
            return l;
        }
    }
    const auto equals = l.text.find('=');
    if (equals == std::string_view::npos) {
        l.kind = IniLine::Other;
        return l;
    }
    l.kind = IniLine::Entry;
    l.key = Trim(l.text.substr(0, equals));
    l.value = Trim(l.text.substr(equals + 1));
    return l;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

Encoding EncodingOf(std::string_view bytes) {
    if (bytes.substr(0, Bom.size()) == Bom) return {true, true};
    return {!Kodovani::JeAscii(bytes) && Kodovani::JePlatneUtf8(bytes), false};
}

std::string DecodeText(std::string_view bytes) {
    const Encoding encoding = EncodingOf(bytes);
    if (encoding.bom) bytes.remove_prefix(Bom.size());
    return encoding.utf8 ? Kodovani::PlatneUtf8(bytes) : Kodovani::Cp1250NaUtf8(bytes);
}

bool SameName(std::string_view a, std::string_view b) {
    return Kodovani::StejneBezVelikosti1250(Kodovani::Utf8NaCp1250(a), Kodovani::Utf8NaCp1250(b));
}

IniText::IniText(std::string_view bytes) : text_(std::make_shared<const std::string>(DecodeText(bytes))) {
    int number = 0;
    for (const std::string_view line : SplitLines(*text_)) lines_.push_back(ParseIniLine(line, ++number));
}

std::optional<std::string> IniText::FirstValue(std::string_view key) const {
    for (const IniLine& line : lines_)
        if (line.kind == IniLine::Entry && SameName(line.key, key)) return std::string(line.value);
    return std::nullopt;
}

Failure ReadIni(const std::string& path, IniText& out, Kinds kinds) {
    std::string bytes;
    Failure failure = Read(path, bytes, kinds);
    out = failure.failed() ? IniText() : IniText(bytes);
    return failure;
}

}  // namespace files
