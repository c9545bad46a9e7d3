// Error codes of the interface libraries and their Czech texts.  Codes stay
// within 1-99: the program keeps 100 and above for its own binding errors.
#pragma once

#include <cstdint>
#include <string_view>

namespace drv {

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
    NotInitialised = 10,   // handle 0, or the link was never opened
    PortMissing = 11,
    PortBusy = 12,
    PortDenied = 13,
    NotSerialPort = 14,
    CardMissing = 15,
    InvalidHandle = 16,
    InvalidParameter = 17,
    IoError = 18,
    TooManyLinks = 19,
};

// Version of the library family, 0x0104 = 1.04.
constexpr int32_t LibraryVersion = 0x0104;

// UTF-8 text of a code; unknown codes give nullptr.
const char* codeText(int32_t code);

// Fills 100 cells with the code's text in Windows-1250, one character per
// cell starting at cell 0, ended by a 0 cell; unknown codes get a text that
// names the code.  Returns 0, or InvalidParameter for a null buffer.
int32_t fillErrorText(int32_t code, int32_t* buffer);

}  // namespace drv
