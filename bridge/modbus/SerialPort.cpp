#include "SerialPort.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvbridge::modbus {

namespace {

// The longest pause within one frame before it counts as damaged: far above
// the silence of 1.5 characters the line allows, so that a USB adapter's
// latency does not cut frames.
constexpr uint32_t ByteTimeoutUs = 100000;

// What modbus_receive fails with when a frame was damaged rather than the port.
bool DamagedFrame(int error) {
    return error == EMBBADCRC || error == EMBBADDATA || error == ETIMEDOUT || error == EMBXILVAL ||
           error == EMBXILFUN;
}

}  // namespace

SerialPort::SerialPort(const ModbusSerial& config, const Units& units) : config_(config), units_(units) {}

SerialPort::~SerialPort() { Close(); }

modbus_t* SerialPort::Fresh() const {
    modbus_t* ctx = ::modbus_new_rtu(config_.device.c_str(), config_.baud, config_.parity, config_.dataBits,
                                     config_.stopBits);
    if (!ctx) return nullptr;
    ::modbus_set_slave(ctx, first_);
    ::modbus_set_byte_timeout(ctx, 0, ByteTimeoutUs);
    if (fd_ >= 0) ::modbus_set_socket(ctx, fd_);
    return ctx;
}

std::string SerialPort::Open() { return Attach(-1); }

std::string SerialPort::Adopt(int fd) { return Attach(fd); }

std::string SerialPort::Attach(int adopted) {
    Close();
    first_ = HighestUnit;
    for (int unit = LowestUnit; unit <= HighestUnit; ++unit)
        if (units_[static_cast<size_t>(unit)] >= 0) {
            first_ = unit;
            break;
        }
    const auto failed = [this](const std::string& why) {
        Close();
        return why;
    };
    if (adopted >= 0) {
        fd_ = adopted;
    } else {
        opener_ = Fresh();
        if (!opener_) return failed(::modbus_strerror(errno));
        if (::modbus_connect(opener_) == -1) {
            const std::string why = std::strerror(errno);
            ::modbus_free(opener_);
            opener_ = nullptr;
            return failed(why);
        }
        fd_ = ::modbus_get_socket(opener_);
    }
    port_ = Fresh();
    reframe_ = Fresh();
    if (!port_ || !reframe_) return failed(::modbus_strerror(errno));
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair_) != 0)
        return failed(std::strerror(errno));
    ::modbus_set_socket(reframe_, pair_[1]);
    return {};
}

void SerialPort::Close() {
    if (port_) ::modbus_free(port_);
    if (reframe_) ::modbus_free(reframe_);
    if (opener_) {
        ::modbus_close(opener_);
        ::modbus_free(opener_);
    }
    for (int& fd : pair_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    opener_ = port_ = reframe_ = nullptr;
    fd_ = -1;
}

int SerialPort::Receive(uint8_t* frame) {
    const int length = ::modbus_receive(port_, frame);
    if (length > 0) return length;
    // Another device's request: libmodbus skips its answer next.
    if (length == 0) return units_[frame[0]] >= 0 ? Reframe(frame) : 0;
    if (DamagedFrame(errno)) {
        ::modbus_flush(port_);
        return 0;
    }
    Close();
    return -1;
}

int SerialPort::Reframe(uint8_t* frame) {
    if (::modbus_set_slave(reframe_, frame[0]) == -1) return 0;
    // The frame with whatever followed it in the buffer: libmodbus reads no
    // more than the frame's function and counts say it holds.
    int length = 0;
    if (::write(pair_[0], frame, MODBUS_RTU_MAX_ADU_LENGTH) == MODBUS_RTU_MAX_ADU_LENGTH) {
        uint8_t copy[MODBUS_RTU_MAX_ADU_LENGTH];
        length = ::modbus_receive(reframe_, copy);
        if (length > 0) std::memcpy(frame, copy, static_cast<size_t>(length));
    }
    uint8_t rest[MODBUS_RTU_MAX_ADU_LENGTH];
    while (::read(pair_[1], rest, sizeof rest) > 0) {
    }
    // The unit is ours: no other device answers it.
    if (modbus_t* fresh = Fresh()) {
        ::modbus_free(port_);
        port_ = fresh;
    }
    return length > 0 ? length : 0;
}

}  // namespace kvbridge::modbus
