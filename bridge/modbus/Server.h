// The Modbus face's server: every TCP listen address and serial port of
// every [modbus] section, served by one thread of its own (`kv-modbus` in
// `top -H`) waiting with epoll.  Reads are answered from the image at once;
// a write goes to the module's line, and its answer is sent when the module
// confirmed it (meanwhile that connection's next requests wait, so answers
// keep their order).  A connection from outside the allow-list, one over the
// section's limit and one that sends a malformed frame are closed; so is one
// idle for longer than the section allows.
#pragma once

#include "Image.h"
#include "Log.h"
#include "ModbusConfig.h"
#include "Publisher.h"
#include "Request.h"

#include <modbus.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvbridge::modbus {

// How a write ended: NoException when the module confirmed every command.
struct WriteResult {
    Exception exception = NoException;
    std::string why;  // of a refusal, for the log
};
// The answer to a write the line carried out, or refused.
WriteResult ResultOf(const CommandResult& result);
// Hands the commands of one write for module `module` (its index in the
// configuration) to its line, to be carried out one after the other and
// `done` called once, from the line's thread; false when the line takes no
// more (its queue is full, the bridge is ending) and `done` will not be called.
using WritePoster = std::function<bool(size_t module, std::vector<Command> commands, CommandDone done)>;

// One [modbus] section with its units.
struct Section {
    const ModbusConfig* config;
    Units units;
};

class Server {
public:
    // `moduleOf` and `names`: the configuration's index and name of every
    // place of the image.
    Server(std::vector<Section> sections, const Image& image, std::vector<size_t> moduleOf,
           std::vector<std::string> names, WritePoster post);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on every address: throws std::runtime_error naming the one that
    // failed.  Serial ports that cannot be opened are tried again every 5 s.
    void Start();
    // Answers the writes the lines completed, then closes everything.
    void Stop();

    // The addresses listened on, as bound (the port chosen for port 0), for messages and tests.
    std::vector<std::string> Listening() const;

private:
    struct Waiter;
    struct Listener;
    struct Connection;
    struct Port;

    void Run();
    void Accept(Listener& listener);
    void ServeConnection(Connection& c);
    void ServePort(Port& p);
    // Acts on the answer to a request `ctx` received: false when its connection is to close.
    bool Act(const Answer& a, modbus_t* ctx, const uint8_t* frame, int length, Waiter& waiter);
    void LogRefusal(const Waiter& waiter, size_t place, Exception e, const std::string& why);
    void Complete(uint64_t waiter, const WriteResult& result);
    void Deliver();
    void CloseConnection(uint64_t id);
    void Wake();
    void Watch(int op, int fd, uint64_t tag, bool reading);
    // Requests from the waiter are read (again), or not while its write waits.
    void Reading(Waiter& waiter, bool reading);

    std::vector<Section> sections_;
    const Image& image_;
    std::vector<size_t> moduleOf_;
    std::vector<std::string> names_;
    WritePoster post_;

    modbus_t* tcp_ = nullptr;  // receives and answers on every connection in turn
    std::unique_ptr<modbus_mapping_t> mapping_;  // over snapshot_
    Snapshot snapshot_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::map<uint64_t, std::unique_ptr<Connection>> connections_;
    std::vector<std::unique_ptr<Port>> ports_;
    LimitedLog log_;
    uint64_t nextId_ = 1;
    int wake_ = -1;   // eventfd
    int epoll_ = -1;  // every listener, connection and port, and wake_

    std::thread thread_;
    std::mutex mutex_;
    bool stopping_ = false;
    std::deque<std::pair<uint64_t, WriteResult>> done_;
};

}  // namespace kvbridge::modbus
