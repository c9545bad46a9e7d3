#include "Descriptors.h"
#include "Messages.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace emu {

namespace {

constexpr int64_t ListenerRestMs = 100;

bool FillUnixAddress(const std::string& path, sockaddr_un& address, std::string& why) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        why = i18n::Fill(_("%s: path too long for a local socket"), path);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool ClaimSocketPath(const std::string& path, int type, std::string& why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return true;
    if (!S_ISSOCK(st.st_mode)) {
        why = i18n::Fill(_("%s: exists and is not a socket"), path);
        return false;
    }
    sockaddr_un address;
    if (!FillUnixAddress(path, address, why)) return false;
    const int probe = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        ::close(probe);
        why = i18n::Fill(_("%s: another emulator serves it"), path);
        return false;
    }
    if (probe >= 0) ::close(probe);
    ::unlink(path.c_str());
    return true;
}

}  // namespace

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int ListenUnix(const std::string& path, int type, std::string& why) {
    sockaddr_un address;
    if (!FillUnixAddress(path, address, why) || !ClaimSocketPath(path, type, why)) return -1;
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        why = Errno("socket");
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        why = Errno(path);
        ::close(fd);
        return -1;
    }
    return fd;
}

void ListenerRest::AfterFailedAccept(int64_t nowMs) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) untilMs_ = nowMs + ListenerRestMs;
}

}  // namespace emu
