// What the interface libraries tell of their codes: the texts of _Error, with
// the fuller text of a library's latest failure where it has one.  Codes stay
// within 1-99: the program keeps 100 and above for its own binding errors.
#pragma once

#include "ErrorCodes.h"
#include "kv_version.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace drv {

// The codes are abi/ErrorCodes.h's: one space for the libraries
// and the program that loads them.
using Code = kv618::Code;
using enum kv618::Code;

// Version of the library family: the project's, 0x0104 for 1.04.
constexpr int32_t LibraryVersion = KV_VERSION_CODE;

// A fuller text for a code, told by the latest failure of this library that
// gave it (the device a missing port was looked for at); _Error gives it
// instead of the general one from then on.
void SetDetailedText(int32_t code, const std::string& utf8);

// Fills 100 cells with the code's text in Windows-1250, one character per
// cell starting at cell 0, ended by a 0 cell; unknown codes get a text that
// names the code.  Returns 0, or InvalidParameter for a null buffer.
int32_t FillErrorText(int32_t code, int32_t* buffer);

}  // namespace drv
