// The emulator's state-file reader on arbitrary bytes; what it accepts must
// write out and read back the same.
#include "StateFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string why;
    const auto state = emu::ParseState(std::string_view(reinterpret_cast<const char*>(data), size), &why);
    if (!state) return 0;
    const std::string text = emu::FormatState(*state);
    const auto again = emu::ParseState(text, &why);
    if (!again || emu::FormatState(*again) != text) std::abort();
    return 0;
}
