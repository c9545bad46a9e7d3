#include "SerialEndpoint.h"
#include "Descriptors.h"
#include "Files.h"
#include "Messages.h"
#include "LineSpeed.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace emu {

namespace {

constexpr int64_t LineCheckIntervalMs = 100;

}  // namespace

SerialEndpoint::~SerialEndpoint() {
    if (linked_) ::unlink(link_.c_str());
    CloseFd(closes_);
    CloseFd(slave_);
    CloseFd(master_);
}

bool SerialEndpoint::Open(std::string& why) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        why = Errno("pseudo-terminal");
        return false;
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        why = Errno("ptsname");
        return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) {
        why = Errno(path_);
        return false;
    }
    ApplyLineSettings();
    // Every close of the line by a master, so that exclusive mode it left is
    // cleared before the next master comes; without inotify the periodic
    // check alone does it.
    closes_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (closes_ >= 0 && ::inotify_add_watch(closes_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) CloseFd(closes_);
    return link_.empty() || MakeLink(why);
}

// A link of an earlier run is replaced; anything else at its path is left alone.
bool SerialEndpoint::MakeLink(std::string& why) {
    struct stat st {};
    if (::lstat(link_.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            why = i18n::Fill(_("%s: exists and is not a symbolic link"), link_);
            return false;
        }
        ::unlink(link_.c_str());
    }
    if (::symlink(path_.c_str(), link_.c_str()) != 0) {
        why = Errno(link_);
        return false;
    }
    linked_ = true;
    return true;
}

void SerialEndpoint::AddWatches(std::vector<Watch>& watches) {
    watches.push_back({master_, [this] { OnReadable(); }});
    if (closes_ >= 0) watches.push_back({closes_, [this] { OnClosed(); }});
}

// The line starts raw at the module's rate, so a master that does not set
// the rate at all still reaches the module.
void SerialEndpoint::ApplyLineSettings() {
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) return;
    ::cfmakeraw(&tio);
    const speed_t speed = wire::LineSpeed(bus_.first().module.BaudRate());
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    ::tcsetattr(slave_, TCSANOW, &tio);
}

int32_t SerialEndpoint::LineRate() const {
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) return bus_.first().module.BaudRate();
    const speed_t speed = ::cfgetospeed(&tio);
    for (const int32_t rate : wire::BaudRates)
        if (wire::LineSpeed(rate) == speed) return rate;
    return 0;
}

// A master that set exclusive mode and closed the line leaves the mode set,
// since the emulator's own slave keeps the line open, and then nobody but
// root could open the port again.  A master that holds the port also holds
// its lock; a free lock with exclusive mode set is a leftover.
void SerialEndpoint::ReleaseStaleExclusive() {
    int exclusive = 0;
    if (::ioctl(slave_, TIOCGEXCL, &exclusive) != 0 || !exclusive) return;
    if (::flock(slave_, LOCK_EX | LOCK_NB) != 0) return;
    ::ioctl(slave_, TIOCNXCL);
    ::flock(slave_, LOCK_UN);
}

void SerialEndpoint::OnClosed() {
    alignas(inotify_event) char events[4096];
    while (::read(closes_, events, sizeof events) > 0) {
    }
    ReleaseStaleExclusive();
}

void SerialEndpoint::OnDue() {
    ReleaseStaleExclusive();
    nextCheckMs_ = clock_.SteadyMs() + LineCheckIntervalMs;
}

void SerialEndpoint::OnReadable() {
    uint8_t buffer[512];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return;
    const int32_t rate = LineRate();
    if (!bus_.AnyAt(rate)) {
        // At a rate no module runs at, the modules hear only noise.
        framer_.Clear();
        return;
    }
    framer_.Add(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
    unsigned damaged = 0;
    const auto frames = wire::TakeRequests(framer_, damaged);
    if (damaged > 0) bus_.OnDamagedFrame(rate);
    // With the line's timing: the request coming in, then the reply going out.
    const int64_t lineUs = lineTiming_ ? wire::LineTimeUs(rate) : 0;
    for (const auto& frame : frames) Answer(Peer{}, frame, rate, lineUs);
}

// A reply the line cannot take now is lost, as on a line that nobody reads.
void SerialEndpoint::Deliver(const Peer& /*peer*/, std::span<const uint8_t> bytes) {
    files::WriteAll(master_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace emu
