#include "TahuHost.h"

#include "Command.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

namespace {

using namespace std::chrono_literals;

bool WriteLine(int fd, std::string line) {
    line += '\n';
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TahuHost::TahuHost(uint16_t port, const std::string& group) {
    struct stat st {};
    if (std::string(KV_NODE).empty() || ::stat(KV_TAHU_MODULES "/sparkplug-payload", &st) != 0)
        throw std::runtime_error("the Sparkplug host of the tests needs node and npm (bash tools/install-deps.sh), "
                                 "and the build's npm ci into " KV_TAHU_MODULES);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    char errors[] = "/tmp/kv618-tahu-XXXXXX";
    const int err = ::mkstemp(errors);
    errorsPath_ = errors;
    std::vector<std::string> args = {KV_NODE, KV_TAHU_HOST, std::to_string(port), group};
    const auto argv = Pointers(args);
    std::vector<std::string> variables = ChildEnvironment({{"NODE_PATH", KV_TAHU_MODULES}});
    const auto envp = Pointers(variables);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err);
    in_ = in[1];
    out_ = out[0];
    if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    reader_ = std::thread([this] { Read(); });
    std::unique_lock lock(mutex_);
    // node loads its packages first: seconds on a busy machine.
    const bool ready = arrived_.wait_for(lock, 60s, [this] {
        for (const Json& line : lines_)
            if (line.contains("ready")) return true;
        return ended_;
    });
    if (!ready || ended_) {
        lock.unlock();
        throw std::runtime_error("the Sparkplug host did not subscribe: " + Errors());
    }
}

TahuHost::~TahuHost() {
    if (in_ >= 0) ::close(in_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) ::close(out_);
    ::unlink(errorsPath_.c_str());
}

void TahuHost::Read() {
    std::string pending;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            Json line = Json::parse(pending.substr(0, end), nullptr, false);
            std::lock_guard lock(mutex_);
            lines_.push_back(line.is_discarded() ? Json{{"unreadable", pending.substr(0, end)}} : std::move(line));
            arrived_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    arrived_.notify_all();
}

std::optional<TahuHost::Json> TahuHost::Wait(const std::string& topic, Clock::duration timeout, size_t from,
                                             const std::function<bool(const Json&)>& match) {
    std::unique_lock lock(mutex_);
    std::optional<Json> found;
    size_t next = from;
    arrived_.wait_for(lock, timeout, [&] {
        for (; next < lines_.size(); ++next) {
            const Json& line = lines_[next];
            if (line.value("topic", "") != topic || !line.contains("payload")) continue;
            if (!match || match(line.at("payload"))) {
                found = line.at("payload");
                return true;
            }
        }
        return ended_;
    });
    return found;
}

size_t TahuHost::Count() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
}

bool TahuHost::Publish(const std::string& topic, const Json& payload, Clock::duration timeout) {
    size_t from = Count();
    if (!WriteLine(in_, Json{{"topic", topic}, {"payload", payload}}.dump())) return false;
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] {
        for (; from < lines_.size(); ++from)
            if (lines_[from].value("published", "") == topic) return true;
        return ended_;
    }) && !ended_;
}

std::string TahuHost::Errors() const {
    std::ifstream file(errorsPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

const TahuHost::Json* TahuHost::Metric(const Json& payload, const std::string& name) {
    if (!payload.contains("metrics")) return nullptr;
    for (const Json& m : payload["metrics"])
        if (m.value("name", "") == name) return &m;
    return nullptr;
}

}  // namespace kvtest
