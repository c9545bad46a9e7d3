// The emulator's command line.
#pragma once

#include <cstdint>

#include "CardFolder.h"
#include "Commands.h"
#include <string>
#include <variant>
#include <vector>

namespace emu {

// One module on the line: its address and baud-rate index at first power-up
// (a state file, once there, keeps what was written to the module since).
struct BusModule {
    uint8_t address = 1;
    uint8_t baudIndex = wire::DefaultBaudIndex;
};

struct Options {
    uint8_t address = 1;
    // The modules on the line; one at `address` unless --module or --bus.
    std::vector<BusModule> modules;
    bool udp = true;
    std::string udpHost = "127.0.0.1";
    uint16_t udpPort = 5000;
    bool allowNonlocal = false;
    bool pty = false;
    std::string ptyLink;
    bool cards = true;
    std::string cardDir = wire::DefaultCardFolder();
    uint16_t isaBase = 0x300;
    std::string stateFile;
    std::string control;
    bool lineTiming = false;
    uint32_t replyDelayMs = 0;
    // Control commands carried out once the module is up, as if they came
    // over the control channel: inputs, pulse trains, faults, power failures.
    std::vector<std::string> commands;
    // Inputs that change every second, pulses on every counter and now and
    // then a status bit, so that every live window has something to show.
    bool life = false;
    bool help = false;
};

struct OptionsError {
    std::string why;
};

std::variant<Options, OptionsError> ParseOptions(const std::vector<std::string>& args);
const char* Usage();

// Name of the ISA card's socket for a base address, e.g. "pci726-300.sock".
std::string IsaSocketName(uint16_t base);

// "ADDRESS" or "ADDRESS:BAUD" (BAUD in Bd, one of the module's rates).
bool ParseBusModule(std::string_view text, BusModule& entry);
// The state file of module `index` on the line: the file itself for the
// first, "FILE.2", "FILE.3", ... for the others.
std::string StateFileOf(const std::string& stateFile, size_t index);

}  // namespace emu
