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

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace kv618 {

// How _Init takes its argument besides the handle variable.
enum class InitShape {
    Value,  // cell 0 of the parameter block, as a 32-bit value
    Plain,  // nothing
    Block,  // the whole parameter block
};

// How the connection dialog shows and reads a parameter.
enum class ParameterKind {
    PortNumber,  // decimal; a text that is no whole number stands for 1
    IoBase,      // three hexadecimal digits and "h"; anything else stands for 300h
    Address,     // text as typed; must not be empty
    Bounded16,   // decimal, 0-65535
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
    {"COMx", "Standardní COMx", "QCOM726.DLL", "QCOM726", InitShape::Value, detail::ComParameters, "com"},
    {"PCI-726", "ISA karta PCI-726", "QPCI726.DLL", "QPCI726", InitShape::Value, detail::IsaParameters, "pci726"},
    {"PCI-1726", "PCI karta PCI-1726", "QPCI1726.DLL", "QPCI1726", InitShape::Plain, {}, "pci1726"},
    {"USB-1726", "USB konvertor USB-1726", "QUSB1726.DLL", "QUSB1726", InitShape::Plain, {}, "usb1726"},
    {"KV-1726", "LAN konvertor KV-1726", "QKV1726.DLL", "QKV1726", InitShape::Block, detail::LanParameters,
     "kv1726"},
}};

inline bool IsInterface(unsigned type) { return type < Interfaces.size(); }

// A parameter's value in TData as text (decimal for numbers), and back: a
// number is cut to the field's width; false when the text is no whole number.
std::string ParameterText(const TData& data, const Parameter& parameter);
bool SetParameter(TData& data, const Parameter& parameter, const std::string& text);

}  // namespace kv618
