// A program record with an open link to the emulated module, as the
// connection dialog leaves it, for driving the library and the windows
// without the dialog.
#pragma once

#include "Dekl.h"
#include "Qxxx726.h"

#include <QApplication>

#include <array>
#include <cstdint>
#include <string>

class ModuleWindow;
class TStatusBar;

namespace bench {

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // LAN converter library to 127.0.0.1:port.  0 or the error code.
    int32_t openUdp(uint16_t port, int32_t timeoutMs = 200);
    // The same in a benchmark's child process: false after telling the
    // parent "ERROR" and the code's text on standard output.
    bool openUdpForParent(uint16_t port);
    // COM library on COM1, mapped to the device, at the rate.
    int32_t openSerial(const std::string& device, int32_t rate);
    void close();

    TData& data() { return data_; }

    // One PrenosDat to the module; the error byte.  d holds D0..D4.
    uint8_t exchange(uint8_t function, uint8_t subcode, std::array<uint8_t, 5>& d);
    uint8_t readInputs();
    uint8_t writeRegister(uint8_t reg, uint8_t value);
    uint8_t readRegister(uint8_t reg, uint8_t& value);

private:
    int32_t finishOpen(int32_t rate);

    TData data_;
    TOdpoved reply_{};
    std::string ip_ = "127.0.0.1";
};

// A window benchmark's child process, `kvbench MODE PORT SECONDS ...`: the
// application and the program's link to the emulator at PORT.  Unless
// `linked`, the parent has been told ERROR.
struct WindowChild {
    WindowChild(int& argc, char** argv);
    // `window` on this link, shown.
    void Show(ModuleWindow& window);
    // The event loop for SECONDS, and 50 ms more.
    void Run();
    // The window's status text, then END: the last the parent reads.
    static int Finish(const TStatusBar& bar);

    int seconds;
    QApplication app;
    Connection link;
    bool linked;
};

}  // namespace bench
