// A kv618emu process for a test: started on a free loopback port with its own
// temporary folder (pseudo-terminal link, card sockets, control socket, state
// file), stopped and cleaned up when the object goes.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kvtest {

struct EmulatorOptions {
    int address = 1;
    // Several modules on the line, "ADDRESS[:BAUD]" each; `address` is unused then.
    std::vector<std::string> modules;
    bool lineTiming = false;
    std::string stateFile;                // empty: a file in the temporary folder
    std::vector<std::string> extraArgs;   // more command-line options
};

// Options for several modules on the line, "ADDRESS[:BAUD]" each.
inline EmulatorOptions ModulesOnLine(std::vector<std::string> modules) {
    EmulatorOptions options;
    options.modules = std::move(modules);
    return options;
}

class Emulator {
public:
    explicit Emulator(EmulatorOptions o = {});
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    uint16_t udpPort() const { return udpPort_; }
    // A symbolic link to the pseudo-terminal; it keeps its name across restart().
    const std::string& ptyPath() const { return ptyPath_; }
    const std::string& cardDir() const { return cardDir_; }
    const std::string& stateFile() const { return stateFile_; }
    const std::string& tempDir() const { return tempDir_; }

    // One control command; gives the reply line without its end of line
    // ("error ..." when the emulator cannot be reached).
    std::string command(const std::string& line);
    // The reply as a number; fails the test and throws on anything else.
    uint32_t value(const std::string& line);
    // Sets the input pins of the module at `address`: what a read of its
    // inputs gives now (the negation applied).
    uint32_t setInputs(int address, uint32_t pins);

    // Stops the emulator and starts it again on the same port, state file
    // and card folder: a power failure for the module.
    void restart();
    void stop();
    bool running() const;
    // A module that has gone silent (SIGSTOP), and back (SIGCONT).
    void freeze();
    void thaw();
    pid_t pid() const { return pid_; }

private:
    void start();
    bool connectControl();
    void closeControl();

    EmulatorOptions options_;
    std::string tempDir_;
    std::string ptyPath_;
    std::string cardDir_;
    std::string stateFile_;
    std::string controlPath_;
    uint16_t udpPort_ = 0;
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
    int controlFd_ = -1;
};

}  // namespace kvtest
