// Error codes of the interface libraries and their Czech texts.  Codes stay
// within 1-99: the program keeps 100 and above for its own binding errors.
#pragma once

#include "kv_version.h"

#include <cstdint>
#include <string>
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
    UntrustedFolder = 20,  // the card sockets' folder is another user's or open to others
};

// Version of the library family: the project's, 0x0104 for 1.04.
constexpr int32_t LibraryVersion = KV_VERSION_CODE;

// UTF-8 text of a code; unknown codes give nullptr.
const char* codeText(int32_t code);

// A fuller text for a code, told by the latest failure of this library that
// gave it (the device a missing port was looked for at); _Error gives it
// instead of the general one from then on.
void setDetailedText(int32_t code, const std::string& utf8);

// Fills 100 cells with the code's text in Windows-1250, one character per
// cell starting at cell 0, ended by a 0 cell; unknown codes get a text that
// names the code.  Returns 0, or InvalidParameter for a null buffer.
int32_t fillErrorText(int32_t code, int32_t* buffer);

}  // namespace drv
