#include "Trace.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace drv {
namespace {

// The file name of the library this code is part of, e.g. "QKV1726.DLL".
const std::string& LibraryName() {
    static const std::string name = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&LibraryName), &info) == 0 || !info.dli_fname) return std::string("?");
        const std::string path = info.dli_fname;
        return path.substr(path.rfind('/') + 1);
    }();
    return name;
}

void AppendHex(std::string& line, std::span<const uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    if (bytes.empty()) line += '-';
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 15];
    }
}

std::string WallTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%06ld", now.tv_nsec / 1000);
    return text;
}

}  // namespace

std::shared_ptr<Trace> Trace::FromEnvironment() {
    const char* path = std::getenv("KV618_TRACE");
    if (!path || !*path) return nullptr;
    static std::mutex mutex;
    static std::weak_ptr<Trace> shared;
    std::lock_guard lock(mutex);
    if (auto open = shared.lock(); open && open->path_ == path) return open;
    std::shared_ptr<Trace> trace;
    if (std::string(path) == "-") {
        trace.reset(new Trace(STDERR_FILENO, false, path));
    } else {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0) return nullptr;
        trace.reset(new Trace(fd, true, path));
    }
    shared = trace;
    return trace;
}

Trace::~Trace() {
    if (owned_) ::close(fd_);
}

void Trace::Record(std::span<const uint8_t> request, std::span<const uint8_t> reply, const std::string& verdict,
                   Clock::duration took) {
    std::string line = WallTime() + ' ' + LibraryName() + " request ";
    AppendHex(line, request);
    line += " reply ";
    AppendHex(line, reply);
    char tail[48];
    std::snprintf(tail, sizeof tail, " %.3f ms\n",
                  std::chrono::duration<double, std::milli>(took).count());
    line += ' ' + verdict + tail;
    // One write per line, so lines of links on other threads never mix.
    std::lock_guard lock(mutex_);
    [[maybe_unused]] const ssize_t n = ::write(fd_, line.data(), line.size());
}

}  // namespace drv
