// The emulator's transports and control channel, served by one poll() loop.
#pragma once

#include <ctime>
#include <poll.h>

#include <cstdint>
#include <limits>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <string>
#include <vector>

#include "Bus.h"
#include "Clock.h"
#include "Options.h"
#include "SyncFramer.h"

namespace emu {

class Server {
public:
    Server(Bus& bus, const Clock& clock, Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the state files and powers the modules up (a power failure for
    // a module that was alive before).
    void PowerUp();
    // Opens every endpoint; false with a reason when one cannot be opened.
    bool Open(std::string& why);
    std::string ReadyLine() const;
    // Serves until a signal or "quit".
    void Run();

private:
    enum class ConnKind { Card, Control };
    // Control input not yet a whole line; the rest of a line that was too
    // long is skipped up to its end.
    struct LineInput {
        std::string text;
        bool skipping = false;
    };
    struct Conn {
        int fd;
        ConnKind kind;
        LineInput input;
    };
    struct Pending {
        enum class To { Udp, Pty, Conn } to;
        sockaddr_in peer{};
        uint64_t conn = 0;
        std::vector<uint8_t> bytes;
    };
    struct Watch {
        int fd;
        std::function<void()> onReadable;
    };

    bool OpenUdp(std::string& why);
    bool OpenPty(std::string& why);
    bool OpenCards(std::string& why);
    bool OpenControl(std::string& why);
    bool OpenSignals(std::string& why);

    // Fills watches_ with every descriptor the loop waits on now.
    void Watches();
    void OnUdp();
    void OnPty();
    void OnCardListener(int fd);
    void OnControlListener();
    void RestListenersIfOutOfDescriptors();
    void OnConn(uint64_t id);
    void OnStdin();
    void CloseConn(uint64_t id);
    std::string ControlInput(LineInput& input, const char* bytes, size_t n);
    bool PeerClosed(int fd) const;

    // The rate in Bd the master set on the serial line (0 for another speed).
    int32_t LineRate() const;
    void ApplyLineSettings();
    void ReleaseStaleExclusive();
    void OnPtyClosed();
    void Queue(Pending pending, int64_t delayUs);
    void Deliver(const Pending& pending);
    void FireDue();
    timespec PollTimeout() const;
    static int64_t NowUs();
    void SaveState();
    bool SaveModule(size_t index, std::string& errors);
    void SaveSome();
    void EndSaveRound(const std::string& errors);
    void StartLife();
    void LifeTick();

    Bus& bus_;
    const Clock& clock_;
    Options options_;
    bool stop_ = false;

    int signalFd_ = -1;
    int udpFd_ = -1;
    uint16_t udpPort_ = 0;
    int ptyMaster_ = -1;
    int ptySlave_ = -1;  // kept open so the line stays up between masters
    int ptyCloses_ = -1;  // inotify: a master closed the line
    std::string ptyPath_;
    wire::SyncFramer framer_ = wire::RequestFramer();
    std::vector<std::pair<int, std::string>> cardListeners_;
    int controlFd_ = -1;
    bool stdinOpen_ = true;
    LineInput stdinInput_;
    std::map<uint64_t, Conn> conns_;
    uint64_t nextConn_ = 1;
    std::vector<Watch> watches_;  // kept between turns of the loop, so no turn allocates
    std::vector<pollfd> fds_;
    std::multimap<int64_t, Pending> pending_;  // by steady microseconds
    int64_t nextSaveMs_ = 0;
    size_t saveNext_ = SIZE_MAX;  // next module of the save round under way; none at SIZE_MAX
    std::string roundErrors_;
    int64_t nextLineCheckMs_ = 0;
    int64_t listenAgainMs_ = 0;  // listeners rest until then when descriptors ran out
    std::string lastSaveError_;
    int64_t nextLifeMs_ = 0;
    uint32_t lifeStep_ = 0;
};

}  // namespace emu
