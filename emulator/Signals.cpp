#include "Signals.h"
#include "Descriptors.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace emu {

Signals::~Signals() { CloseFd(fd_); }

bool Signals::Open(std::string& why) {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) why = Errno("signalfd");
    return fd_ >= 0;
}

void Signals::AddWatch(std::vector<Watch>& watches) {
    watches.push_back({fd_, [this] {
                           signalfd_siginfo info;
                           while (::read(fd_, &info, sizeof info) > 0) caught_ = true;
                       }});
}

}  // namespace emu
