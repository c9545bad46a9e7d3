// The emulator's serving loop: one poll() over every endpoint's descriptors
// and the signals, with the timers of delayed replies, the state files, the
// serial line's check and --life between the turns.
#pragma once

#include <ctime>
#include <poll.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Bus.h"
#include "Clock.h"
#include "Endpoint.h"
#include "Life.h"
#include "Options.h"
#include "Replies.h"
#include "Signals.h"
#include "StateKeeper.h"

namespace emu {

class Server {
public:
    Server(Bus& bus, const Clock& clock, const Options& options);
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the state files and powers the modules up (a power failure for
    // a module that was alive before).
    void PowerUp() { state_.PowerUp(); }
    // Opens every endpoint; false with a reason when one cannot be opened.
    bool Open(std::string& why);
    std::string ReadyLine() const;
    // Serves until a signal or "quit".
    void Run();

private:
    // Fills watches_ with every descriptor the loop waits on now.
    void Watches();
    // Whatever is due after a turn's descriptors were served.
    void DueWork();
    timespec PollTimeout() const;

    Bus& bus_;
    const Clock& clock_;
    Signals signals_;
    Replies replies_;
    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    StateKeeper state_;
    std::optional<Life> life_;
    std::vector<Watch> watches_;  // kept between turns of the loop, so no turn allocates
    std::vector<pollfd> fds_;
};

}  // namespace emu
