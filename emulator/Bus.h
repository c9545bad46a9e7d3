// The modules on the emulator's line: one or more KV-618s, each with its own
// address, baud rate and stored state, hearing the same requests.  Only the
// module a request is addressed to answers it, and on the serial line (also
// behind the LAN converter) only a module whose baud rate is the line's
// hears it at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Options.h"
#include "Service.h"

namespace emu {

class Bus {
public:
    Bus(const Clock& clock, const std::vector<BusModule>& modules);

    size_t size() const { return services_.size(); }
    Service& at(size_t i) { return *services_[i]; }
    Service& first() { return *services_.front(); }

    // One request frame off a transport; `lineRate` is the rate in Bd the
    // frame travels at on the modules' line (the serial line's, or the one a
    // UDP request names; nullopt for the cards and a UDP request naming none).  Gives the answer and the module that
    // gave it, or nullopt when no module answers.
    struct Answer {
        Outgoing out;
        Service* from;
    };
    std::optional<Answer> OnFrame(std::span<const uint8_t> frame, std::optional<int32_t> lineRate = std::nullopt);
    // Damaged bytes: every module that hears the line notices them.
    void OnDamagedFrame(std::optional<int32_t> lineRate = std::nullopt);
    // Whether any module listens at this rate on the serial line.
    bool AnyAt(int32_t lineRate) const;

    // One control line: "at ADDRESS COMMAND" goes to the module at that
    // address, anything else to the first module.  "modules" lists them.
    std::string OnControl(std::string_view line);
    bool QuitRequested() const;

private:
    bool Hears(const Service& service, std::optional<int32_t> lineRate) const;
    std::vector<std::unique_ptr<Service>> services_;
};

}  // namespace emu
