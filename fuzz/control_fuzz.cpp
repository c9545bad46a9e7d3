// The emulator's control channel: every line of the input is a command.
#include "Service.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static emu::ManualClock clock;
    emu::Service service(clock, 1);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const auto end = text.find('\n');
        (void)service.OnControl(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return 0;
}
