// One bus line: one interface library opened once, its modules polled in turn
// on a thread of the line's own, one request at a time.  Lines do not wait
// for each other.  Commands from the broker wait in a queue and go out
// between two polls.
#pragma once

#include "Config.h"
#include "Connection.h"
#include "Payloads.h"
#include "Publisher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kvbridge {

class BusLine {
public:
    // The line polls the modules of `line` and tells `publisher` what it reads.
    BusLine(const LineConfig& line, const std::vector<ModuleConfig>& modules, Publisher& publisher);
    ~BusLine();
    BusLine(const BusLine&) = delete;
    BusLine& operator=(const BusLine&) = delete;

    void Start();
    // Ends the thread after the request in progress; the link stays open.
    void Stop();
    // Closes the link with _Done.
    void Close();

    // A checked command for module `module` (an index into the configuration);
    // false when too many wait already.
    bool Post(size_t module, Command command, std::string topic, std::string payload);
    // Commands carried out one after the other, `done` told how they ended
    // (from the line's thread, once) instead of the publisher; false when
    // they do not fit in the queue, and `done` is not called.
    bool Post(size_t module, std::vector<Command> commands, CommandDone done);

private:
    using Clock = std::chrono::steady_clock;

    enum class Poll { Identify, Inputs, Status, Counters };

    // The inputs or the status register: polled alike, published when it
    // changed or its heartbeat is due.
    struct Word {
        Clock::time_point due;
        std::optional<uint32_t> published;  // last published
        Clock::time_point publishedAt;
    };

    struct Polled {
        const ModuleConfig* config;
        size_t index;  // in the configuration
        bool online = false;
        bool reportedSilent = false;  // its silence is in the log already
        int silent = 0;               // requests in a row without an answer
        Clock::time_point identifyDue, countersDue;
        Word inputs, status;
        Clock::time_point countersStarted;  // due time of the set being read
        int counterStep = 0;                // 0-19 within the set
        kv618::CounterTable counters{};
        std::optional<uint32_t> outputs;  // last written since the module answered
        int refused[4] = {};  // last refusal code per Poll, reported once
    };

    struct Pending {
        size_t module;
        std::vector<Command> commands;
        std::string topic, payload;
        CommandDone done;  // empty: a refusal goes to the publisher
    };

    bool Enqueue(Pending pending);
    void Run();
    static Clock::duration Slack(const Polled& p, Poll poll);
    bool OpenLink();
    void Execute(const Pending& pending);
    CommandResult ExecuteOne(Polled& p, const Command& c);
    void RunPoll(Polled& p, Poll poll);
    void Identify(Polled& p);
    void ReadWord(Polled& p, Poll poll);
    void ReadCounterStep(Polled& p);
    // Sets the module's rate on the link if another one is set: 0 or the code.
    int32_t Reach(const Polled& p);
    void Answered(Polled& p, Poll poll);
    void Failed(Polled& p, Poll poll, int code);
    void GoOnline(Polled& p, const kv618::Identification& id);
    void GoOffline(Polled& p, int code);
    std::string Where(const Polled& p) const;
    std::string Text(int code) const { return connection_.Text(code); }

    LineConfig config_;
    Publisher& publisher_;
    TData data_;  // the parameters _Init takes, kept while the link is open
    std::vector<Polled> polled_;
    kv618::Connection connection_;
    int32_t rate_ = 0;  // set on the open link
    std::string openFailure_;  // the last failure to open, reported once
    Clock::duration retryOpen_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::deque<Pending> commands_;
};

}  // namespace kvbridge
