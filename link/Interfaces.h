// The five interfaces through which the module is reached, one row each:
// the name the settings file gives it, the label of the connection dialog,
// the library file with its entry-point prefix and the shape of its _Init,
// the command-line tool's name for it, and the parameters it takes with
// their place in TData, in the settings file, in the dialog, on the
// command line and in the parameter block handed to _Init.  The
// binding, the settings file and the connection dialog read this table;
// adding an interface means adding a row.
#pragma once

#include "Dekl.h"
#include "Libraries.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kv618 {

// How _Init takes its argument besides the handle variable.
enum class InitShape {
    Value,  // cell 0 of the parameter block, as a 32-bit value
    Plain,  // nothing
    Block,  // the whole parameter block
};

// What a parameter holds (ParseParameter says which texts give it).
enum class ParameterKind {
    PortNumber,  // a COM port number
    IoBase,      // an ISA card's I/O base address, 000h-FFFh
    Address,     // the LAN converter's IPv4 address
    Bounded16,   // 0-65535
};

using ParameterField =
    std::variant<uint8_t TData::*, uint16_t TData::*, int32_t TData::*, std::string TData::*>;

struct Parameter {
    ParameterField field;
    const char* section;        // in the settings file
    const char* key;
    const char* defaultValue;   // what InicializujData puts in the field
    const char* label;          // caption beside the dialog's field
    ParameterKind kind;
    const char* refused;        // the dialog's text for a value it refuses; null: none is refused
    const char* option;         // the command-line tool's option, without its leading "--"
};

struct Interface {
    const char* settingsName;  // value of "Rozhraní" in the settings file
    const char* dialogLabel;   // item of the dialog's interface list
    const char* libraryFile;
    const char* prefix;        // of the seven entry points
    InitShape init;
    // In order: the dialog's three fields, and cells 0, 1, 2 of the block.
    std::span<const Parameter> parameters;
    const char* optionName;    // the command-line tool's name for it (--interface)
};

namespace detail {
inline const std::array<Parameter, 1> ComParameters = {{
    {&TData::CisloPortu, "COMx", "Číslo portu", "1", "Číslo portu COMx", ParameterKind::PortNumber, nullptr, "port"},
}};
inline const std::array<Parameter, 1> IsaParameters = {{
    {&TData::BazovaAdresa, "PCI-726", "Bázová adresa", "768", "Bázová adresa PCI-726", ParameterKind::IoBase,
     nullptr, "base"},
}};
inline const std::array<Parameter, 3> LanParameters = {{
    {&TData::IPAdresa, "KV-1726", "IP adresa", "192.168.0.99", "IP adresa", ParameterKind::Address,
     "Neplatná IP adresa", "ip"},
    {&TData::UDPPort, "KV-1726", "UDP port", "5000", "UDP port", ParameterKind::Bounded16, "Neplatný UDP port",
     "udp-port"},
    {&TData::UDPTimeout, "KV-1726", "UDP timeout", "200", "UDP timeout", ParameterKind::Bounded16,
     "Neplatný UDP timeout", "timeout"},
}};
}  // namespace detail

// Indexed by TData.Rozhrani.
inline const std::array<Interface, 5> Interfaces = {{
    {"COMx", "Standardní COMx", LibraryNames[0].file, LibraryNames[0].prefix, InitShape::Value,
     detail::ComParameters, "com"},
    {"PCI-726", "ISA karta PCI-726", LibraryNames[1].file, LibraryNames[1].prefix, InitShape::Value,
     detail::IsaParameters, "pci726"},
    {"PCI-1726", "PCI karta PCI-1726", LibraryNames[2].file, LibraryNames[2].prefix, InitShape::Plain, {},
     "pci1726"},
    {"USB-1726", "USB konvertor USB-1726", LibraryNames[3].file, LibraryNames[3].prefix, InitShape::Plain, {},
     "usb1726"},
    {"KV-1726", "LAN konvertor KV-1726", LibraryNames[4].file, LibraryNames[4].prefix, InitShape::Block,
     detail::LanParameters, "kv1726"},
}};

inline bool IsInterface(unsigned type) { return type < Interfaces.size(); }

// The interface of a name in the settings file ("KV-1726", any case) or of
// the tool's name for it ("kv1726").
std::optional<uint8_t> InterfaceOfSettingsName(std::string_view name);
std::optional<uint8_t> InterfaceOfOption(std::string_view name);

// Where a parameter's text comes from.  Each has one accepted form per
// parameter:
enum class Notation {
    // The command line and the bridge's tool names (port, base, ip, udp port,
    // timeout): port 1-255 in decimal; the ISA base in hexadecimal, 300h (or
    // 300, 0x300); an IPv4 address in dotted decimal; 0-65535 in decimal.
    Typed,
    // The settings file's keys ("Číslo portu", "Bázová adresa" ...), in
    // R_iv618.ini and the bridge's configuration: as Typed, but the ISA base
    // in decimal as the settings file stores it (768); 300h is taken too.
    Stored,
    // The connection dialog's fields, forgiving as the dialog always was: a
    // port that is no whole number is 1 (cut to 16 bits); the base is the
    // first three hexadecimal digits of a four-character text (300h), any
    // other text 300h; the address only must not be empty.
    Dialog,
};

// The parameter's value as the settings file keeps it (decimal for
// numbers), or nothing when the text is refused.
std::optional<std::string> ParseParameter(const Parameter& parameter, std::string_view text, Notation notation);
// The operator's text for a refused value: the dialog's where the table gives one.
std::string RefusalText(const Parameter& parameter);

// The parameter of `interface` a key names: the settings file's key (Stored)
// or the tool's name, with a blank or "-" between words (Typed).
struct NamedParameter {
    const Parameter* parameter;
    Notation notation;
};
std::optional<NamedParameter> ParameterNamed(const Interface& interface, std::string_view key);

// A parameter's value in TData as text (decimal for numbers), and back: a
// number is cut to the field's width; false when the text is no whole number.
std::string ParameterText(const TData& data, const Parameter& parameter);
bool SetParameter(TData& data, const Parameter& parameter, const std::string& text);
// A parameter's value as the connection dialog's field shows it: the ISA
// base as at least three upper-case hexadecimal digits and "h" (300h), the
// others as ParameterText.  The window that finds modules shows it alike.
std::string DialogText(const TData& data, const Parameter& parameter);

}  // namespace kv618
