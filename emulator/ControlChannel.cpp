#include "ControlChannel.h"
#include "Files.h"

#include <cerrno>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace emu {

namespace {

constexpr size_t MaxControlLine = 4096;

void Answer(int fd, const std::string& replies) {
    if (!replies.empty()) files::WriteAll(fd, replies);
}

}  // namespace

ControlChannel::~ControlChannel() {
    for (auto& [id, connection] : connections_) ::close(connection.fd);
    if (listener_ >= 0) {
        CloseFd(listener_);
        ::unlink(path_.c_str());
    }
}

bool ControlChannel::Open(std::string& why) {
    if (path_.empty()) return true;
    listener_ = ListenUnix(path_, SOCK_STREAM, why);
    return listener_ >= 0;
}

std::string ControlChannel::ReadyField() const { return listener_ >= 0 ? "control=" + path_ : std::string(); }

void ControlChannel::AddWatches(std::vector<Watch>& watches) {
    if (listener_ >= 0 && rest_.Listening(clock_.SteadyMs())) watches.push_back({listener_, [this] { OnListener(); }});
    for (auto& [id, connection] : connections_)
        watches.push_back({connection.fd, [this, id = id] { OnConnection(id); }});
    if (stdinOpen_) watches.push_back({STDIN_FILENO, [this] { OnStdin(); }});
}

std::optional<int64_t> ControlChannel::DueMs() const {
    if (rest_.Listening(clock_.SteadyMs())) return std::nullopt;
    return rest_.UntilMs();
}

void ControlChannel::OnListener() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) connections_.emplace(nextConnection_++, Connection{fd, {}});
    else rest_.AfterFailedAccept(clock_.SteadyMs());
}

// Handlers of one turn of the loop may drop connections; a connection's
// handler looks itself up by its number.
void ControlChannel::OnConnection(uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    Connection& connection = it->second;
    char buffer[4096];
    const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        ::close(connection.fd);
        connections_.erase(it);
        return;
    }
    Answer(connection.fd, CarryOut(connection.input, buffer, static_cast<size_t>(n)));
}

void ControlChannel::OnStdin() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        stdinOpen_ = false;
        return;
    }
    Answer(STDOUT_FILENO, CarryOut(stdinInput_, buffer, static_cast<size_t>(n)));
}

// A line too long gets one reply, however many reads it takes to pass.
std::string ControlChannel::CarryOut(LineInput& input, const char* bytes, size_t n) {
    std::string replies;
    std::string_view rest(bytes, n);
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        if (!input.skipping) {
            input.text.append(rest.substr(0, nl));
            if (input.text.size() > MaxControlLine) {
                input.text.clear();
                input.skipping = true;
                replies += "error line too long\n";
            }
        }
        if (nl == std::string_view::npos) break;
        if (!input.skipping) replies += bus_.OnControl(input.text) + "\n";
        input.text.clear();
        input.skipping = false;
        rest.remove_prefix(nl + 1);
    }
    return replies;
}

}  // namespace emu
