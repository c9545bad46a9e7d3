// The Modbus face's server in the test process, over an image the test
// fills and a line the test plays, against mbpoll and libmodbus clients on
// 127.0.0.1 and over a socat pseudo-terminal pair: what each request is
// answered with, and which connections are refused or closed.
#include "Image.h"
#include "Modbus.h"
#include "Mqtt.h"
#include "Server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {

using namespace kvbridge::modbus;
using namespace std::chrono_literals;
using kvtest::Mbpoll;

class ModbusServer : public ::testing::Test {
protected:
    // alpha (unit 1) with every command, beta (unit 2) with none, gamma (unit 3) never answering.
    ModbusServer()
        : image(3, {{0, 1s, 1s, 1s, {true, true, true}}, {1, 1s, 1s, 1s, {}}, {2, 1s, 1s, 1s, {}}}),
          port(kvtest::FreeTcpPort()) {
        config.listen.push_back({"127.0.0.1", port, 1});
        kv618::Identification id;
        image.Online(0, id);
        image.Online(1, id);
        image.Inputs(0, 0x80000005);
        image.Inputs(1, 0x22);
        image.Status(0, 0x50);
        image.Status(1, 0x10);
        kv618::CounterTable counters{};
        counters[2][1] = 123456;
        image.Counters(0, counters);
        units.fill(-1);
        units[1] = 0, units[2] = 1, units[3] = 2;
    }
    ~ModbusServer() override {
        if (server) server->Stop();
    }

    void Start() {
        server = std::make_unique<Server>(std::vector<Section>{{&config, units}}, image, std::vector<size_t>{0, 1, 2},
                                          std::vector<std::string>{"alpha", "beta", "gamma"},
                                          [this](size_t module, std::vector<kvbridge::Command> commands, kvbridge::CommandDone done) {
                                              return Post(module, std::move(commands), std::move(done));
                                          });
        server->Start();
    }

    // The line: carries the commands out at once, as the module confirmed
    // them, or with `hold` when the test releases them.
    bool Post(size_t module, std::vector<kvbridge::Command> commands, kvbridge::CommandDone done) {
        std::lock_guard lock(mutex);
        for (const auto& c : commands) posted.push_back({module, c});
        auto carryOut = [this, module, commands, done] {
            for (const auto& c : commands)
                if (c.kind == kvbridge::Command::SetOutputs) {
                    outputs = (outputs & ~c.mask) | (c.outputs & c.mask);
                    image.OutputsWritten(module, outputs);
                }
            done({});
        };
        if (hold) held.push_back(std::move(carryOut));
        else carryOut();
        return true;
    }
    // The writes held, carried out now; how many there were.
    size_t Release() {
        std::lock_guard lock(mutex);
        for (auto& carryOut : held) carryOut();
        const size_t count = held.size();
        held.clear();
        return count;
    }

    std::string At() const { return "-p " + std::to_string(port) + " 127.0.0.1"; }

    kvbridge::ModbusConfig config;
    Image image;
    Units units;
    uint16_t port;
    std::unique_ptr<Server> server;
    std::mutex mutex;
    std::vector<std::pair<size_t, kvbridge::Command>> posted;
    uint32_t outputs = 0;
    bool hold = false;
    std::vector<std::function<void()>> held;
};

// A TCP connection to the server from `source` (an address of 127.0.0.0/8).
int Connect(uint16_t port, const char* source = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &from.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return fd;
}

// Whether the server closed the connection (it reads end of file, or a reset).
bool Closed(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, 0) <= 0 && errno != EAGAIN;
}

TEST_F(ModbusServer, MbpollReadsWhatTheImageHolds) {
    Start();
    auto r = Mbpoll("-a 1 -t 1 -r 0 -c 32 " + At());
    ASSERT_EQ(r.status, 0) << r.output;
    for (int bit = 0; bit < 32; ++bit) EXPECT_EQ(r.values[bit], (0x80000005u >> bit) & 1) << bit;
    r = Mbpoll("-a 1 -t 3:int -B -r 2 -c 1 " + At());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(static_cast<uint32_t>(r.values[2]), 0x80000005u);
    r = Mbpoll("-a 1 -t 3:int -B -r " + std::to_string(CounterAddress(2, 1)) + " -c 1 " + At());
    EXPECT_EQ(r.values[CounterAddress(2, 1)], 123456) << r.output;
    r = Mbpoll("-a 1 -t 3 -r 0 -c 2 " + At());
    EXPECT_EQ(r.values[0], 0x50) << r.output;
    EXPECT_EQ(r.values[1], 0);  // outputs not known
    r = Mbpoll("-a 2 -t 1 -r 0 -c 8 " + At());
    EXPECT_EQ(r.values[1], 1) << r.output;
    EXPECT_EQ(r.values[5], 1);
}

TEST_F(ModbusServer, ExceptionsSayWhatIsMissing) {
    Start();
    EXPECT_NE(Mbpoll("-a 3 -t 1 -r 0 -c 1 " + At()).output.find("Target device failed to respond"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 9 -t 1 -r 0 -c 1 " + At()).output.find("Gateway path unavailable"), std::string::npos);
    EXPECT_NE(Mbpoll("-a 1 -t 3 -r 60 -c 1 " + At()).output.find("Illegal data address"), std::string::npos);
    // The outputs are not known until the bridge wrote all 32.
    EXPECT_NE(Mbpoll("-a 1 -t 0 -r 0 -c 1 " + At()).output.find("Slave device or server failure"), std::string::npos);
    const auto single = Mbpoll("-a 1 -t 0 -r 3 " + At() + " 1");
    EXPECT_NE(single.status, 0) << single.output;
    // Writes are off unless the module's section enables them.
    EXPECT_NE(Mbpoll("-a 2 -t 4 -r 3 " + At() + " 1").output.find("Illegal function"), std::string::npos);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(posted.empty());
}

TEST_F(ModbusServer, WritesGoToTheLineAndAreAnsweredWhenCarriedOut) {
    Start();
    std::string all;
    for (int bit = 0; bit < 32; ++bit) all += bit % 3 == 0 ? " 1" : " 0";
    auto r = Mbpoll("-a 1 -t 0 -r 0 " + At() + all);
    ASSERT_EQ(r.status, 0) << r.output;
    r = Mbpoll("-a 1 -t 0 -r 4 " + At() + " 1");
    ASSERT_EQ(r.status, 0) << r.output;
    r = Mbpoll("-a 1 -t 4 -r 2 " + At() + " 15");  // every counter
    ASSERT_EQ(r.status, 0) << r.output;
    r = Mbpoll("-a 1 -t 0 -r 0 -c 32 " + At());
    ASSERT_EQ(r.status, 0) << r.output;
    for (int bit = 0; bit < 32; ++bit) EXPECT_EQ(r.values[bit], bit % 3 == 0 || bit == 4) << bit;
    std::lock_guard lock(mutex);
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].second.mask, 0xFFFFFFFFu);
    EXPECT_EQ(posted[1].second.mask, 1u << 4);
    EXPECT_EQ(posted[2].second.kind, kvbridge::Command::ResetCounters);
    EXPECT_EQ(posted[2].second.counter, -1);
}

// A write is answered when the module confirmed it, and one begun is
// finished even when its client left meanwhile; the others go on.
TEST_F(ModbusServer, AWriteIsAnsweredWhenCarriedOutAndFinishedWhenItsClientLeft) {
    hold = true;
    Start();
    // Write multiple registers: holding 0-1, all 32 outputs 0x000000A5.
    const uint8_t write[] = {0, 1, 0, 0, 0, 11, 1, 0x10, 0, 0, 0, 2, 4, 0, 0, 0, 0xA5};
    const auto posted = [&](size_t count) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex);
                if (held.size() == count) return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    const int waiting = Connect(port);
    ASSERT_EQ(::send(waiting, write, sizeof write, 0), static_cast<ssize_t>(sizeof write));
    ASSERT_TRUE(posted(1));
    timeval brief{0, 300000};
    ::setsockopt(waiting, SOL_SOCKET, SO_RCVTIMEO, &brief, sizeof brief);
    uint8_t answer[32];
    EXPECT_EQ(::recv(waiting, answer, sizeof answer, 0), -1) << "answered before the module confirmed";
    EXPECT_EQ(Release(), 1u);
    timeval patient{5, 0};
    ::setsockopt(waiting, SOL_SOCKET, SO_RCVTIMEO, &patient, sizeof patient);
    ASSERT_EQ(::recv(waiting, answer, sizeof answer, 0), 12);
    EXPECT_EQ(answer[7], 0x10);

    // The client leaves while its write is with the line.
    const int leaving = Connect(port);
    const uint8_t again[] = {0, 2, 0, 0, 0, 11, 1, 0x10, 0, 0, 0, 2, 4, 0, 0, 0, 0x5A};
    ASSERT_EQ(::send(leaving, again, sizeof again, 0), static_cast<ssize_t>(sizeof again));
    ASSERT_TRUE(posted(1));
    ::close(leaving);
    EXPECT_EQ(Release(), 1u);
    const auto r = Mbpoll("-a 1 -t 4:int -B -r 0 -c 1 " + At());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.values.count(0) ? r.values.at(0) : -1, 0x5A) << r.output;
    ::close(waiting);
}

TEST_F(ModbusServer, TheAllowListAndTheLimitRefuseConnections) {
    kvbridge::ReadModbusKey(config, "allow", "127.0.0.2/32", 2).ok();
    config.maxConnections = 2;
    Start();
    const auto refused = Mbpoll("-a 1 -t 1 -r 0 -c 1 " + At());
    EXPECT_NE(refused.status, 0) << refused.output;
    EXPECT_EQ(refused.output.find("[0]:"), std::string::npos) << refused.output;
    const int first = Connect(port, "127.0.0.2"), second = Connect(port, "127.0.0.2");
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    // A request on an allowed connection is answered.
    modbus_t* client = ::modbus_new_tcp("127.0.0.1", port);
    ::modbus_set_slave(client, 1);
    ::modbus_set_socket(client, first);
    uint8_t bits[32];
    EXPECT_EQ(::modbus_read_input_bits(client, 0, 32, bits), 32) << ::modbus_strerror(errno);
    // A third is over the limit.
    const int third = Connect(port, "127.0.0.2");
    ASSERT_GE(third, 0);
    EXPECT_TRUE(Closed(third));
    ::modbus_free(client);
    for (const int fd : {first, second, third}) ::close(fd);
}

TEST_F(ModbusServer, AMalformedFrameClosesItsConnectionAndWritesNothing) {
    config.idle = 1s;
    Start();
    // Write multiple registers whose MBAP length does not count what came.
    const int bad = Connect(port);
    const uint8_t frame[] = {0, 1, 0, 0, 0, 20, 1, 0x10, 0, 0, 0, 2, 4, 0, 0, 0, 1};
    ASSERT_EQ(::send(bad, frame, sizeof frame, 0), static_cast<ssize_t>(sizeof frame));
    EXPECT_TRUE(Closed(bad));
    // A frame that never comes whole.
    const int partial = Connect(port);
    ASSERT_EQ(::send(partial, frame, 5, 0), 5);
    EXPECT_TRUE(Closed(partial));
    // An idle connection is closed after the section's idle timeout.
    const int idle = Connect(port);
    EXPECT_TRUE(Closed(idle));
    for (const int fd : {bad, partial, idle}) ::close(fd);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(posted.empty());
}

TEST_F(ModbusServer, SixteenClientsAtOnceAreEachAnswered) {
    Start();
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 16; ++c)
        clients.emplace_back([&, c] {
            modbus_t* client = ::modbus_new_tcp("127.0.0.1", port);
            ::modbus_set_slave(client, 1 + c % 2);
            if (::modbus_connect(client) != 0) return ::modbus_free(client);
            uint16_t registers[20];
            for (int i = 0; i < 50; ++i) answered += ::modbus_read_input_registers(client, 0, 20, registers) == 20;
            ::modbus_close(client);
            ::modbus_free(client);
        });
    for (auto& t : clients) t.join();
    EXPECT_EQ(answered, 16 * 50);
}

TEST_F(ModbusServer, RtuAnswersEveryUnitOfTheSectionAndNoOther) {
    kvtest::PtyPair line;
    config.listen.clear();
    config.rtu.push_back({line.first(), 19200, 'N', 8, 1, 1});
    Start();
    const std::string at = "-m rtu -b 19200 -P none " + line.second();
    // Unit 1 is the context's own; unit 2 is framed again for its unit.
    for (int attempt = 0; attempt < 50 && Mbpoll("-a 1 -t 1 -r 0 -c 1 " + at).status != 0; ++attempt)
        std::this_thread::sleep_for(100ms);  // the port is opened by the server's thread
    auto r = Mbpoll("-a 2 -t 1 -r 0 -c 8 " + at);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.values[1], 1);
    r = Mbpoll("-a 1 -t 3:int -B -r 2 -c 1 " + at);
    EXPECT_EQ(static_cast<uint32_t>(r.values[2]), 0x80000005u) << r.output;
    EXPECT_NE(Mbpoll("-a 3 -t 1 -r 0 -c 1 " + at).output.find("Target device failed to respond"), std::string::npos);
    EXPECT_EQ(Mbpoll("-a 1 -t 0 -r 0 " + at + " 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1").status, 0);
    // Another unit's request is another device's on the bus: no answer at all.
    r = Mbpoll("-a 9 -o 0.3 -t 1 -r 0 -c 1 " + at);
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.output.find("[0]:"), std::string::npos) << r.output;
    std::lock_guard lock(mutex);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].second.outputs, 0xFFFFFFFFu);
}

}  // namespace
