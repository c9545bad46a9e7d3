// A real serial line through termios: 8N1, raw, exclusive.
#pragma once

#include "DescriptorTransport.h"

#include <memory>
#include <string>
#include <termios.h>
#include <vector>

namespace drv::com {

constexpr int32_t HighestPort = 255;

// The device of COM port n, as files/PortDevice.h says.
std::string PortPath(int32_t port, const std::vector<std::string>& iniFiles);
std::string PortPath(int32_t port, const std::string& iniFile);

// QCOM726.ini in the folder of the library (or program) holding this code.
std::string IniBesideLibrary();
// QCOM726.ini in the user's settings folder (~/.config/r_iv618), then beside
// the library: the user maps adapters without writing to the program's folder.
std::vector<std::string> IniFiles();

// What the operator reads when COM n's device does not exist: the port, the
// device tried and where to map another one; at most 99 characters.
std::string MissingPortText(int32_t port, const std::string& path);

// Library code for an errno of opening or locking a port.
int32_t OpenErrorCode(int error);

// Bxxx constant of a rate, 0 for a rate termios lacks.
speed_t SpeedOf(int32_t rate);

class SerialPort : public DescriptorTransport {
public:
    // Opens and locks the device at 9600 Bd; 0 or the code of the failure.
    static int32_t Open(const std::string& path, std::unique_ptr<Transport>& out);
    ~SerialPort() override;

    bool IsStream() const override { return true; }
    int32_t DiscardInput() override;
    int32_t Send(std::span<const uint8_t> frame, Clock::time_point deadline) override;
    Received Receive(std::span<uint8_t> buffer, Clock::time_point deadline) override;
    Received TakeWaiting(std::span<uint8_t> buffer) override;
    int32_t ApplyRate(int32_t rate) override;

private:
    explicit SerialPort(std::string path) : path_(std::move(path)) {}
    int32_t OpenDevice();
    int32_t Configure();
    void CloseDevice();
    int32_t Lost();

    std::string path_;
    speed_t speed_ = B9600;
    bool exclusive_ = false;  // this port set the exclusive mode
    bool broken_ = false;  // the device went away: reopen before the next request
};

}  // namespace drv::com
