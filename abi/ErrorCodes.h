// The one code space of the link: what an interface library's entry points
// return (1-99) and what the program's binding adds (10, 100 and above).
// 0 is success.  A code is turned into a text only for display (CodeText).
// docs/library-abi.md lists every code with its text.
#pragma once

#include <cstdint>
#include <string>

namespace kv618 {

enum Code : int32_t {
    Ok = 0,
    NoReply = 1,           // nothing usable came before the time-out
    BadChecksum = 2,       // a reply came with a wrong CRC
    BadFrame = 3,          // bytes came, but no frame of the right length and sync
    OtherAddress = 4,      // the only reply came from another module address
    Refused = 5,           // the module refused the request (outcome not listed below)
    UnknownFunction = 6,   // refused: function code unknown to the module
    UnknownSubcode = 7,    // refused: sub-code unknown to the module
    UnknownRegister = 8,   // refused: configuration register unknown to the module
    NotInitialised = 10,   // handle 0, the link never opened, no library bound, interface above 4
    PortMissing = 11,
    PortBusy = 12,
    PortDenied = 13,
    NotSerialPort = 14,
    CardMissing = 15,
    InvalidHandle = 16,
    InvalidParameter = 17,
    IoError = 18,
    TooManyLinks = 19,
    UntrustedFolder = 20,  // the card sockets' folder is another user's or open to others

    LoadFailed = 100,      // + interface: its library file failed to load
    EntryMissing = 110,    // + interface: its library lacks an entry point
    CodeOutOfRange = 255,  // a library gave a code that does not fit the exchange's error byte
};

// The module answered, and refused the request.
constexpr bool IsRefusal(int32_t code) { return code >= Refused && code <= UnknownRegister; }
// A request went out, but no usable reply came back: nothing, a damaged one
// or one from another address.  The line itself works.
constexpr bool IsSilence(int32_t code) { return code >= NoReply && code <= OtherAddress; }

// A code as the one error byte of the designed exchange: a code that no byte
// holds is CodeOutOfRange, never taken for success.
constexpr uint8_t ErrorByte(int32_t code) {
    return static_cast<uint8_t>(code >= 0 && code <= 255 ? code : CodeOutOfRange);
}

// A code's Czech text (UTF-8): the libraries' texts below 100, the binding's
// from 100; an unknown code gets a text that says so.
std::string CodeText(int32_t code);
// The text an interface library gives for a code (its _Error): the same
// below 100; a library knows none of the binding's codes.
std::string LibraryCodeText(int32_t code);

}  // namespace kv618
