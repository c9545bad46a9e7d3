// One serial port served as a Modbus RTU server for the units of its
// [modbus] section.  libmodbus frames every request and checks its CRC.  A
// libmodbus context answers one unit id of its own and skips the frames of
// the others before their CRC, taking the next frame for the other device's
// reply.  A skipped frame for a unit of the section is handed, as read, to a
// second context set to that unit, which frames and checks it again; since
// no other device answers it, a fresh context then takes the port's next
// frame as a request.
#pragma once

#include "ModbusConfig.h"
#include "Request.h"

#include <modbus.h>

#include <cstdint>
#include <string>

namespace kvbridge::modbus {

class SerialPort {
public:
    SerialPort(const ModbusSerial& config, const Units& units);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens and sets up the port: empty, or why it cannot be opened.
    std::string Open();
    // Serves a descriptor set up elsewhere (a socket, a pseudo-terminal)
    // instead of the port; it stays open when the port is closed.
    std::string Adopt(int fd);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // The context that answers on the port.
    modbus_t* Context() const { return port_; }
    const ModbusSerial& Config() const { return config_; }

    // One request from the port, into `frame` (MODBUS_RTU_MAX_ADU_LENGTH
    // bytes): its length; 0 when there is nothing to answer (a frame for a
    // unit the section does not serve, a damaged one: the line is flushed);
    // -1 when the port failed (closed then).
    int Receive(uint8_t* frame);

private:
    std::string Attach(int adopted);
    int Reframe(uint8_t* frame);
    // A context on the open port that takes the next frame as a request.
    modbus_t* Fresh() const;

    ModbusSerial config_;
    const Units& units_;
    int first_ = LowestUnit;      // the unit the port's contexts answer directly
    modbus_t* opener_ = nullptr;  // opened the port and sets it back when closing it
    modbus_t* port_ = nullptr;    // receives and answers
    modbus_t* reframe_ = nullptr;
    int pair_[2] = {-1, -1};  // the skipped frame goes in at 0 and is framed again from 1
    int fd_ = -1;
};

}  // namespace kvbridge::modbus
