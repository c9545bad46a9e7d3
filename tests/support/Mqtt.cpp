#include "Mqtt.h"

#include "Command.h"
#include "Dekl.h"
#include "Loopback.h"

#include <mosquitto.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kvtest {

namespace {

std::string MakeTempDir(const char* name) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + name + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    return pattern;
}

std::string Mosquitto() {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        for (std::string folder; std::getline(in, folder, ':');) folders.push_back(folder);
    }
    folders.insert(folders.end(), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    for (const auto& folder : folders) {
        const std::string candidate = folder + "/mosquitto";
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    throw std::runtime_error("mosquitto not found: install the Debian package mosquitto (tools/install-deps.sh)");
}

bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Starts `argv` with standard output and error into `log` (or nowhere), in
// this process's environment changed by `environment`; it dies with the test
// process.
pid_t Spawn(std::vector<std::string> args, const std::string& log, const Environment& environment = {},
            const std::vector<std::string>& dropped = {}) {
    const auto argv = Pointers(args);
    std::vector<std::string> variables = ChildEnvironment(environment, dropped);
    const auto envp = Pointers(variables);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = log.empty() ? ::open("/dev/null", O_WRONLY) : ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::close_range(3, ~0u, 0);
        // The test blocks no signals the child should take.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for `pid` up to `timeout`: its wait status, or nothing.
std::optional<int> Reap(pid_t pid, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0) return std::nullopt;
        if (Clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

void Kill(pid_t& pid, Clock::duration patience) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!Reap(pid, patience)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

std::once_flag libraryInit;

}  // namespace

uint16_t FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        throw std::runtime_error("no free port on 127.0.0.1");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

Broker::Broker(const std::string& access) {
    dir_ = MakeTempDir("kv618-broker");
    port_ = FreeTcpPort();
    configPath_ = dir_ + "/mosquitto.conf";
    std::ofstream(configPath_) << "listener " << port_ << " 127.0.0.1\n"
                               << access
                               << "persistence false\n"
                               << "log_dest none\n";
    // Readable by the user mosquitto drops to when started as root.
    std::filesystem::permissions(dir_, std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(configPath_, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    start();
}

Broker::~Broker() {
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void Broker::start() {
    pid_ = Spawn({Mosquitto(), "-c", configPath_}, dir_ + "/mosquitto.log");
    const auto deadline = Clock::now() + 10s;
    while (!Accepts(port_)) {
        if (Clock::now() > deadline || Reap(pid_, 0s)) {
            Kill(pid_, 1s);
            throw std::runtime_error("mosquitto did not start on 127.0.0.1:" + std::to_string(port_));
        }
        std::this_thread::sleep_for(10ms);
    }
}

void Broker::stop() { Kill(pid_, 5s); }

MqttClient::MqttClient(uint16_t port, std::string filter, const std::string& user, const std::string& password)
    : filter_(std::move(filter)) {
    std::call_once(libraryInit, [] { ::mosquitto_lib_init(); });
    client_ = ::mosquitto_new(nullptr, true, this);
    if (!client_) throw std::runtime_error("mosquitto_new failed");
    if (!user.empty()) ::mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
    ::mosquitto_connect_callback_set(client_, [](mosquitto*, void* o, int rc) { static_cast<MqttClient*>(o)->onConnect(rc); });
    ::mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* o, int) { static_cast<MqttClient*>(o)->onDisconnect(); });
    ::mosquitto_subscribe_callback_set(client_, [](mosquitto*, void* o, int, int, const int*) {
        static_cast<MqttClient*>(o)->onSubscribe();
    });
    ::mosquitto_publish_callback_set(client_, [](mosquitto*, void* o, int mid) {
        static_cast<MqttClient*>(o)->onPublished(mid);
    });
    ::mosquitto_message_callback_set(client_, [](mosquitto*, void* o, const mosquitto_message* m) {
        static_cast<MqttClient*>(o)->onMessage(m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen),
                                               m->retain);
    });
    ::mosquitto_reconnect_delay_set(client_, 1, 1, false);
    if (::mosquitto_connect(client_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot connect to the broker at 127.0.0.1:" + std::to_string(port));
    ::mosquitto_loop_start(client_);
    if (!waitConnected(10s)) throw std::runtime_error("no subscription at the broker");
}

MqttClient::~MqttClient() {
    ::mosquitto_disconnect(client_);
    ::mosquitto_loop_stop(client_, false);
    ::mosquitto_destroy(client_);
}

void MqttClient::onConnect(int rc) {
    if (rc == 0) ::mosquitto_subscribe(client_, nullptr, filter_.c_str(), 1);
}

void MqttClient::onDisconnect() {
    std::lock_guard lock(mutex_);
    subscribed_ = false;
}

void MqttClient::onSubscribe() {
    std::lock_guard lock(mutex_);
    subscribed_ = true;
    arrived_.notify_all();
}

void MqttClient::onPublished(int mid) {
    std::lock_guard lock(mutex_);
    acknowledged_.insert(mid);
    arrived_.notify_all();
}

void MqttClient::onMessage(const std::string& topic, std::string payload, bool retained) {
    std::lock_guard lock(mutex_);
    messages_.push_back({topic, std::move(payload), retained, Clock::now()});
    arrived_.notify_all();
}

bool MqttClient::waitConnected(Clock::duration timeout) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [this] { return subscribed_; });
}

bool MqttClient::connected() const {
    std::lock_guard lock(mutex_);
    return subscribed_;
}

// Returns once the broker has acknowledged the message (QoS 1), so that a
// retained one is there for the next subscriber; a client that is not
// connected waits no longer than a moment.
void MqttClient::publish(const std::string& topic, const std::string& payload, bool retain) {
    int mid = 0;
    if (::mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain) !=
        MOSQ_ERR_SUCCESS)
        return;
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, 2s, [&] { return !subscribed_ || acknowledged_.count(mid) > 0; });
    acknowledged_.erase(mid);
}

std::optional<Message> MqttClient::waitFor(const std::function<bool(const Message&)>& match, Clock::duration timeout,
                                           size_t from) {
    std::unique_lock lock(mutex_);
    const auto deadline = Clock::now() + timeout;
    size_t next = from;
    for (;;) {
        for (; next < messages_.size(); ++next)
            if (match(messages_[next])) return messages_[next];
        if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && next == messages_.size())
            return std::nullopt;
    }
}

std::optional<Message> MqttClient::waitOn(const std::string& topic, const std::function<bool(const std::string&)>& match,
                                          Clock::duration timeout, size_t from) {
    return waitFor([&](const Message& m) { return m.topic == topic && match(m.payload); }, timeout, from);
}

size_t MqttClient::count() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

std::vector<Message> MqttClient::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

BridgeProcess::BridgeProcess(const std::string& config, const std::string& stateFolder,
                             const std::vector<std::string>& launcher) {
    dir_ = MakeTempDir("kv618-bridge");
    configPath_ = dir_ + "/bridge.conf";
    logPath_ = dir_ + "/bridge.log";
    std::ofstream(configPath_) << config;
    if (!launcher.empty()) {
        namespace fs = std::filesystem;
        fs::permissions(dir_, fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
        fs::permissions(configPath_, fs::perms::others_read | fs::perms::group_read, fs::perm_options::add);
    }
    std::vector<std::string> command = launcher;
    for (const std::string& word : {SlozkaProgramu() + "/kv618", std::string("bridge"), std::string("--config"), configPath_})
        command.push_back(word);
    // The bridge keeps its state (the Sparkplug node's bdSeq) in the test's folder, not the user's.
    pid_ = Spawn(command, logPath_, {{"XDG_STATE_HOME", stateFolder.empty() ? dir_ + "/state" : stateFolder}},
                 {"STATE_DIRECTORY"});
}

BridgeProcess::~BridgeProcess() {
    Kill(pid_, 10s);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

int BridgeProcess::terminate(Clock::duration patience) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    const auto status = Reap(pid_, patience);
    if (!status) {
        Kill(pid_, 0s);
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

std::optional<int> BridgeProcess::waitExit(Clock::duration timeout) {
    if (pid_ <= 0) return std::nullopt;
    const auto status = Reap(pid_, timeout);
    if (!status) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

std::string BridgeProcess::log() const {
    std::ifstream file(logPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace kvtest
