#include "SerialPort.h"

#include "Codes.h"
#include "LineSpeed.h"
#include "Places.h"
#include "PortDevice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace drv::com {

std::string PortPath(int32_t port, const std::vector<std::string>& iniFiles) {
    return files::DeviceOfPort(port, iniFiles).device;
}

std::string PortPath(int32_t port, const std::string& iniFile) {
    return PortPath(port, std::vector<std::string>{iniFile});
}

std::vector<std::string> IniFiles() {
    std::vector<std::string> files;
    if (const std::string user = files::UserSettingsFolder(); !user.empty()) files.push_back(user + "/QCOM726.ini");
    files.push_back(IniBesideLibrary());
    return files;
}

std::string MissingPortText(int32_t port, const std::string& path) {
    // The user's file, shortened to ~ under the home folder as the operator
    // would type it.
    std::string file = IniFiles().front();
    const char* home = std::getenv("HOME");
    if (home && *home && file.rfind(std::string(home) + "/", 0) == 0) file = "~" + file.substr(std::strlen(home));
    const std::string com = "COM" + std::to_string(port);
    const std::string head = "Port " + com + " (";
    const std::string tail = ") neexistuje - zapište " + com + "=zařízení do " + file;
    // Characters, not bytes: the text travels one Windows-1250 character a cell.
    const auto length = [](const std::string& utf8) {
        size_t n = 0;
        for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return n;
    };
    constexpr size_t cells = 99;
    std::string device = path;
    const size_t fixed = length(head) + length(tail);
    if (fixed + device.size() > cells && fixed + 4 < cells) {
        // The end of a long device name tells it apart best.
        device = "..." + device.substr(device.size() - (cells - fixed - 3));
    }
    return head + device + tail;
}

std::string IniBesideLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&IniBesideLibrary), &info) == 0 || !info.dli_fname) return "QCOM726.ini";
    const std::string library = info.dli_fname;
    const auto slash = library.rfind('/');
    return (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + "/QCOM726.ini";
}

int32_t OpenErrorCode(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR: return PortMissing;
        case EBUSY:
        case EWOULDBLOCK: return PortBusy;
        case EACCES:
        case EPERM:
        case EROFS: return PortDenied;
        case ENOTTY:
        case EISDIR:
        case EINVAL: return NotSerialPort;
        default: return IoError;
    }
}

int32_t SerialPort::Open(const std::string& path, std::unique_ptr<Transport>& out) {
    std::unique_ptr<SerialPort> port(new SerialPort(path));
    if (const int32_t e = port->OpenDevice()) return e;
    out = std::move(port);
    return Ok;
}

SerialPort::~SerialPort() { CloseDevice(); }

void SerialPort::CloseDevice() {
    if (fd_ < 0) return;
    // Exclusive mode belongs to the terminal, not to this descriptor: on a
    // line that something else keeps open (a pseudo-terminal's owner) it
    // would outlive us and keep the next program out.
    if (exclusive_) ::ioctl(fd_, TIOCNXCL);
    exclusive_ = false;
    CloseDescriptor();  // also drops the lock
}

int32_t SerialPort::OpenDevice() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return OpenErrorCode(errno);
    // TIOCEXCL keeps other users out, but root passes it; the lock keeps out
    // every program that locks the port the same way, root's included.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        CloseDevice();
        return OpenErrorCode(error);
    }
    if (::ioctl(fd_, TIOCEXCL) != 0) {
        CloseDevice();
        return NotSerialPort;
    }
    exclusive_ = true;
    if (const int32_t e = Configure()) {
        CloseDevice();
        return e;
    }
    broken_ = false;
    return Ok;
}

int32_t SerialPort::Configure() {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return OpenErrorCode(errno);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed_);
    ::cfsetospeed(&tio, speed_);
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return OpenErrorCode(errno);
    ::tcflush(fd_, TCIOFLUSH);
    return Ok;
}

int32_t SerialPort::ApplyRate(int32_t rate) {
    const speed_t speed = wire::LineSpeed(rate);
    if (speed == B0) return InvalidParameter;
    const speed_t previous = speed_;
    speed_ = speed;
    if (broken_ || fd_ < 0) return Ok;  // taken over when the port is opened again
    if (const int32_t e = Configure()) {
        speed_ = previous;
        return e;
    }
    return Ok;
}

int32_t SerialPort::Lost() {
    broken_ = true;
    CloseDevice();
    return IoError;
}

int32_t SerialPort::DiscardInput() {
    if (broken_) {
        // The device went away (an unplugged converter, a closed terminal):
        // try it afresh, since it may be back under the same name.
        CloseDevice();
        if (const int32_t e = OpenDevice()) {
            broken_ = true;
            return e;
        }
    }
    if (::tcflush(fd_, TCIOFLUSH) != 0) return Lost();
    return Ok;
}

// The port is open without blocking: what waits is read at once.
Received SerialPort::TakeWaiting(std::span<uint8_t> buffer) {
    if (broken_ || fd_ < 0) return Received{.timedOut = true};
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) return Received{.size = static_cast<size_t>(n)};
    return Received{.timedOut = true};  // nothing, or a fault the next request meets
}

int32_t SerialPort::Send(std::span<const uint8_t> frame, Clock::time_point deadline) {
    size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::write(fd_, frame.data() + sent, frame.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return Lost();
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, MsLeft(deadline));
        if (ready == 0) return NoReply;  // the line never took the request
        if (ready < 0 && errno != EINTR) return Lost();
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return Lost();
    }
    return Ok;
}

Received SerialPort::Receive(std::span<uint8_t> buffer, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, MsLeft(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Received{Lost()};
        }
        if (ready == 0) return Received{.timedOut = true};
        if (!(p.revents & POLLIN)) return Received{Lost()};
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n > 0) return Received{.size = static_cast<size_t>(n)};
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return Received{Lost()};  // end of file or EIO: the device hung up
    }
}

}  // namespace drv::com
