#include "Interfaces.h"

#include "Ini.h"
#include "Numbers.h"

#include <arpa/inet.h>
#include <cstdio>

namespace kv618 {

namespace {

// 300h, 0x300 or (when `bare`) 300: hexadecimal, at most FFF.
std::optional<int64_t> HexBase(std::string_view text, bool bare) {
    const bool suffix = !text.empty() && (text.back() == 'h' || text.back() == 'H');
    const bool prefix = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (suffix && !prefix) text.remove_suffix(1);
    else if (prefix && !suffix) text.remove_prefix(2);
    else if (!bare) return std::nullopt;
    if (text.size() > 3) return std::nullopt;
    return files::ParseNumber(text, 0, 0xFFF, files::Hexadecimal);
}

// The dialog's rule: the three digits before the "h" of a four-character
// text; any other length, or a bad digit, stands for the card's usual 300h.
int64_t DialogBase(std::string_view text) {
    if (text.size() != 4) return 0x300;
    return HexBase(text.substr(0, 3), true).value_or(0x300);
}

}  // namespace

std::string RefusalText(const Parameter& p) {
    if (p.refused) return p.refused;
    if (p.kind == ParameterKind::PortNumber) return "Číslo portu musí být v rozsahu 1-255";
    return "Bázová adresa musí být šestnáctkové číslo 000-FFF (např. 300 nebo 300h)";
}

std::optional<uint8_t> InterfaceOfSettingsName(std::string_view name) {
    for (size_t i = 0; i < Interfaces.size(); ++i)
        if (files::SameName(name, Interfaces[i].settingsName)) return static_cast<uint8_t>(i);
    return std::nullopt;
}

std::optional<uint8_t> InterfaceOfOption(std::string_view name) {
    for (size_t i = 0; i < Interfaces.size(); ++i)
        if (name == Interfaces[i].optionName) return static_cast<uint8_t>(i);
    return std::nullopt;
}

std::optional<std::string> ParseParameter(const Parameter& p, std::string_view text, Notation notation) {
    const bool dialog = notation == Notation::Dialog;
    std::optional<int64_t> n;
    switch (p.kind) {
        case ParameterKind::PortNumber:
            n = files::ParseTyped(text);
            if (dialog) return std::to_string(static_cast<uint16_t>(n.value_or(1)));
            if (n && *n >= 1 && *n <= 255) return std::to_string(*n);
            break;
        case ParameterKind::IoBase:
            if (dialog) return std::to_string(DialogBase(text));
            n = HexBase(text, notation == Notation::Typed);
            if (!n && notation == Notation::Stored) n = files::ParseTyped(text);
            if (n && *n >= 0 && *n <= 0xFFF) return std::to_string(*n);
            break;
        case ParameterKind::Address: {
            in_addr address{};
            if (dialog ? !text.empty() : ::inet_pton(AF_INET, std::string(text).c_str(), &address) == 1)
                return std::string(text);
            break;
        }
        case ParameterKind::Bounded16:
            n = files::ParseTyped(text);
            if (n && *n >= 0 && *n <= 65535) return std::to_string(*n);
            break;
    }
    return std::nullopt;
}

std::optional<NamedParameter> ParameterNamed(const Interface& interface, std::string_view key) {
    std::string words(key);
    for (char& c : words)
        if (c == ' ') c = '-';
    for (const Parameter& p : interface.parameters) {
        if (files::SameName(key, p.key)) return NamedParameter{&p, Notation::Stored};
        if (files::SameName(words, p.option)) return NamedParameter{&p, Notation::Typed};
    }
    return std::nullopt;
}

std::string ParameterText(const TData& data, const Parameter& parameter) {
    return std::visit(
        [&](auto member) -> std::string {
            const auto& value = data.*member;
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) return value;
            else return std::to_string(value);
        },
        parameter.field);
}

std::string DialogText(const TData& data, const Parameter& parameter) {
    const std::string text = ParameterText(data, parameter);
    if (parameter.kind != ParameterKind::IoBase) return text;
    char base[16];
    std::snprintf(base, sizeof base, "%03Xh", static_cast<unsigned>(static_cast<uint16_t>(files::ParseTyped(text).value_or(0))));
    return base;
}

bool SetParameter(TData& data, const Parameter& parameter, const std::string& text) {
    return std::visit(
        [&](auto member) {
            auto& value = data.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                value = text;
                return true;
            } else {
                const auto number = files::ParseTyped(text);
                if (number) value = static_cast<T>(*number);
                return number.has_value();
            }
        },
        parameter.field);
}

}  // namespace kv618
