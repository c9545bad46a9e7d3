#include "BusLine.h"

#include "Interfaces.h"
#include "Log.h"
#include "Messages.h"

#include <algorithm>

namespace kvbridge {

namespace {

// Requests in a row without an answer before a module counts as gone: one
// lost datagram or a burst of noise does not take it offline.
constexpr int SilentLimit = 3;
// Commands go before polls: a flood of them must not stop the polling.
constexpr size_t MostWaitingCommands = 64;
constexpr int CounterSteps = wire::CounterCount * static_cast<int>(wire::Quantities.size());


const char* PollName(int poll) {
    static const char* const names[] = {"identification", "inputs", "status", "counters"};
    return names[poll];
}

// The next due time of a poll with a steady cadence; a poll that fell behind
// by more than its interval goes at once rather than in a burst.
template <typename T, typename D>
T Next(T due, D interval, T now) {
    const T next = due + interval;
    return next < now ? now : next;
}

}  // namespace

// How early a poll may go: 2 % of its interval, at most 2 ms.  The next due
// time counts from the due time, not from the poll, so the cadence holds.
BusLine::Clock::duration BusLine::Slack(const Polled& p, Poll poll) {
    Clock::duration interval{};
    switch (poll) {
        case Poll::Identify: interval = p.config->retry; break;
        case Poll::Inputs: interval = p.config->inputs; break;
        case Poll::Status: interval = p.config->status; break;
        case Poll::Counters: interval = p.config->counters; break;
    }
    return std::min<Clock::duration>(interval / 50, std::chrono::milliseconds(2));
}

BusLine::BusLine(const LineConfig& line, const std::vector<ModuleConfig>& modules, Publisher& publisher)
    : config_(line), publisher_(publisher), data_(line.data) {
    retryOpen_ = modules[line.modules.front()].retry;
    for (const size_t i : line.modules) {
        Polled p;
        p.config = &modules[i];
        p.index = i;
        polled_.push_back(p);
        retryOpen_ = std::min<Clock::duration>(retryOpen_, modules[i].retry);
    }
}

BusLine::~BusLine() {
    Stop();
    Close();
}

void BusLine::Start() { thread_ = std::thread([this] { Run(); }); }

void BusLine::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void BusLine::Close() { connection_.Close(); }

bool BusLine::Post(size_t module, Command command, std::string topic, std::string payload) {
    return Enqueue({module, {command}, std::move(topic), std::move(payload), {}});
}

bool BusLine::Post(size_t module, std::vector<Command> commands, CommandDone done) {
    return Enqueue({module, std::move(commands), {}, {}, std::move(done)});
}

bool BusLine::Enqueue(Pending pending) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || commands_.size() >= MostWaitingCommands) return false;
        commands_.push_back(std::move(pending));
    }
    wake_.notify_all();
    return true;
}

std::string BusLine::Where(const Polled& p) const {
    return i18n::Fill(_("module %s (address %s on %s)"), p.config->name, p.config->data.Adresa, config_.name);
}

void BusLine::Run() {
    const auto now = Clock::now();
    for (Polled& p : polled_) p.identifyDue = now;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!connection_.IsOpen()) {
            lock.unlock();
            const bool open = OpenLink();
            lock.lock();
            if (!open) {
                wake_.wait_for(lock, retryOpen_, [this] { return stopping_; });
                continue;
            }
        }
        if (!commands_.empty()) {
            const Pending pending = std::move(commands_.front());
            commands_.pop_front();
            lock.unlock();
            Execute(pending);
            lock.lock();
            continue;
        }
        // The poll due first, of every module on the line.
        Polled* next = nullptr;
        Poll poll = Poll::Identify;
        Clock::time_point due = Clock::time_point::max();
        const auto consider = [&](Polled& p, Poll which, Clock::time_point when) {
            if (when < due) next = &p, poll = which, due = when;
        };
        for (Polled& p : polled_) {
            if (!p.online) {
                consider(p, Poll::Identify, p.identifyDue);
                continue;
            }
            if (p.config->inputs.count()) consider(p, Poll::Inputs, p.inputs.due);
            if (p.config->status.count()) consider(p, Poll::Status, p.status.due);
            if (p.config->counters.count()) consider(p, Poll::Counters, p.countersDue);
        }
        if (!next) {
            wake_.wait(lock, [this] { return stopping_ || !commands_.empty(); });
            continue;
        }
        // A poll due within its slack goes at once rather than after a sleep
        // of its own: modules that fall due together are polled back to back.
        if (due - Slack(*next, poll) > Clock::now()) {
            wake_.wait_until(lock, due, [this] { return stopping_ || !commands_.empty(); });
            continue;
        }
        lock.unlock();
        RunPoll(*next, poll);
        lock.lock();
    }
    // Commands taken from the broker before the end are carried out, each
    // whole, before the line is closed; nothing new is taken meanwhile.
    while (!commands_.empty() && connection_.IsOpen()) {
        const Pending pending = std::move(commands_.front());
        commands_.pop_front();
        lock.unlock();
        Execute(pending);
        lock.lock();
    }
    // A link that will not open sends nothing: who waits for an answer is told.
    for (const Pending& pending : commands_)
        if (pending.done) pending.done({CommandResult::NotSent, "the bridge ended before the line could send it"});
    commands_.clear();
}

bool BusLine::OpenLink() {
    const int32_t rate = polled_.front().config->data.Rychlost;
    const int32_t code = connection_.Open(config_.type, kv618::InitBlock(data_, config_.type), rate);
    if (code == 0) {
        rate_ = rate;
        if (!openFailure_.empty()) Log(i18n::Fill(_("line %s: open"), config_.name));
        openFailure_.clear();
        for (Polled& p : polled_) publisher_.LineOpen(p.index);
        return true;
    }
    const std::string text = Text(code);
    if (text != openFailure_) {
        openFailure_ = text;
        Log(i18n::Fill(_("line %s: cannot be opened (%s): %s; the other lines go on, this one is tried again every %s ms"),
                       config_.name, code, text,
                       std::chrono::duration_cast<std::chrono::milliseconds>(retryOpen_).count()));
        // A session may connect only later: the reason stands until the line opens.
        for (Polled& p : polled_) {
            publisher_.Offline(p.index);
            publisher_.LineFailed(p.index, code, text);
        }
    }
    return false;
}

int32_t BusLine::Reach(const Polled& p) {
    const int32_t rate = p.config->data.Rychlost;
    if (rate == rate_) return 0;
    const int32_t code = connection_.SetRate(rate);
    if (code != 0) return code;
    rate_ = rate;
    return 0;
}

void BusLine::RunPoll(Polled& p, Poll poll) {
    switch (poll) {
        case Poll::Identify: Identify(p); break;
        case Poll::Inputs:
        case Poll::Status: ReadWord(p, poll); break;
        case Poll::Counters: ReadCounterStep(p); break;
    }
}

void BusLine::Identify(Polled& p) {
    const kv618::Module module = connection_.At(p.config->data.Adresa);
    const int32_t reach = Reach(p);
    const auto id = reach ? kv618::Result<kv618::Identification>{reach} : module.Identify();
    if (id.ok()) {
        GoOnline(p, id.value);
        return;
    }
    p.identifyDue = Clock::now() + p.config->retry;
    if (!p.reportedSilent) {
        p.reportedSilent = true;
        Log(i18n::Fill(_("%s does not answer (%s): %s; asked again every %s ms"), Where(p), id.error, Text(id.error),
                       p.config->retry.count()));
        publisher_.Offline(p.index);
    }
}

void BusLine::GoOnline(Polled& p, const kv618::Identification& id) {
    p.online = true;
    p.silent = 0;
    p.reportedSilent = false;
    p.inputs.published.reset();
    p.status.published.reset();
    // A module that was silent may have lost power and taken its initial outputs.
    p.outputs.reset();
    p.counterStep = 0;
    std::fill(std::begin(p.refused), std::end(p.refused), 0);
    const auto now = Clock::now();
    p.inputs.due = p.status.due = p.countersDue = p.countersStarted = now;
    Log(i18n::Fill(_("%s answers: %s"), Where(p), id.Text()));
    publisher_.Online(p.index, id);
}

void BusLine::GoOffline(Polled& p, int code) {
    p.online = false;
    p.reportedSilent = true;
    p.identifyDue = Clock::now() + p.config->retry;
    Log(i18n::Fill(_("%s stopped answering (%s): %s; asked again every %s ms"), Where(p), code, Text(code),
                   p.config->retry.count()));
    publisher_.Offline(p.index);
}

void BusLine::Answered(Polled& p, Poll poll) {
    p.silent = 0;
    p.refused[static_cast<int>(poll)] = 0;
}

void BusLine::Failed(Polled& p, Poll poll, int code) {
    if (kv618::IsRefusal(code)) {
        // The module is there; say once what it refuses, not at every poll.
        p.silent = 0;
        int& last = p.refused[static_cast<int>(poll)];
        if (last != code) {
            last = code;
            publisher_.PollFailed(p.index, PollName(static_cast<int>(poll)), code, Text(code));
        }
        return;
    }
    if (++p.silent >= SilentLimit) GoOffline(p, code);
}

// Every answer goes to Polled; Inputs or Status hear a change, or the same
// value again once its heartbeat is due.
void BusLine::ReadWord(Polled& p, Poll poll) {
    const bool inputs = poll == Poll::Inputs;
    Word& word = inputs ? p.inputs : p.status;
    word.due = Next(word.due, inputs ? p.config->inputs : p.config->status, Clock::now());
    const kv618::Module module = connection_.At(p.config->data.Adresa);
    const int32_t reach = Reach(p);
    const auto read = reach ? kv618::Result<uint32_t>{reach} : inputs ? module.ReadInputs() : module.ReadStatus();
    if (!read.ok()) return Failed(p, poll, read.error);
    Answered(p, poll);
    publisher_.Polled(p.index, inputs ? Reading::Inputs : Reading::Status, read.value);
    const auto now = Clock::now();
    if (word.published == read.value && now - word.publishedAt < p.config->heartbeat) return;
    word.published = read.value;
    word.publishedAt = now;
    if (inputs) publisher_.Inputs(p.index, read.value);
    else publisher_.Status(p.index, read.value);
}

// One quantity per turn, so that the inputs of the other modules do not wait
// for twenty requests in a row; the set is published whole.
void BusLine::ReadCounterStep(Polled& p) {
    if (p.counterStep == 0) p.countersStarted = p.countersDue;
    const int counter = p.counterStep / static_cast<int>(wire::Quantities.size());
    const int quantity = p.counterStep % static_cast<int>(wire::Quantities.size());
    const kv618::Module module = connection_.At(p.config->data.Adresa);
    const int32_t reach = Reach(p);
    const auto value =
        reach ? kv618::Result<uint32_t>{reach} : module.ReadQuantity(wire::Quantities[quantity], counter);
    const auto now = Clock::now();
    if (!value.ok()) {
        p.counterStep = 0;
        p.countersDue = Next(p.countersStarted, p.config->counters, now);
        return Failed(p, Poll::Counters, value.error);
    }
    Answered(p, Poll::Counters);
    p.counters[counter][quantity] = value.value;
    if (++p.counterStep < CounterSteps) {
        // Due now: whatever fell due meanwhile goes first.
        p.countersDue = now;
        return;
    }
    p.counterStep = 0;
    p.countersDue = Next(p.countersStarted, p.config->counters, now);
    publisher_.Counters(p.index, p.counters);
}

void BusLine::Execute(const Pending& pending) {
    const auto found = std::find_if(polled_.begin(), polled_.end(), [&](const Polled& p) { return p.index == pending.module; });
    if (found == polled_.end()) return;
    for (const Command& c : pending.commands) {
        const CommandResult result = ExecuteOne(*found, c);
        if (result.kind == CommandResult::Done) continue;
        if (pending.done) return pending.done(result);
        return publisher_.CommandRefused(found->index, pending.topic, pending.payload, result.why);
    }
    if (pending.done) pending.done({});
}

CommandResult BusLine::ExecuteOne(Polled& p, const Command& c) {
    if (!p.online) return {CommandResult::Silent, "the module is not answering; nothing was sent"};
    // Some outputs alone: the others keep what the bridge wrote last.
    if (c.kind == Command::SetOutputs && c.mask != AllOutputs && !p.outputs)
        return {CommandResult::Refused, OutputsUnknown};
    const uint32_t outputs = c.kind == Command::SetOutputs ? (p.outputs.value_or(0) & ~c.mask) | (c.outputs & c.mask) : 0;
    const kv618::Module module = connection_.At(p.config->data.Adresa);
    if (const int32_t reach = Reach(p)) return {CommandResult::Silent, "the line's rate cannot be set: " + Text(reach)};
    int32_t code = 0;
    switch (c.kind) {
        case Command::SetOutputs: code = module.WriteOutputs(outputs); break;
        case Command::ResetCounters: code = c.counter < 0 ? module.ResetCounters() : module.ResetCounter(c.counter); break;
        case Command::ResetStatus: code = module.ResetStatus(); break;
    }
    if (code != 0) {
        const bool refused = kv618::IsRefusal(code);
        if (!refused && ++p.silent >= SilentLimit) GoOffline(p, code);
        return {refused ? CommandResult::Refused : CommandResult::Silent, Text(code) + " (" + std::to_string(code) + ")"};
    }
    p.silent = 0;
    const auto now = Clock::now();
    switch (c.kind) {
        case Command::SetOutputs:
            p.outputs = outputs;
            publisher_.OutputsWritten(p.index, outputs);
            break;
        // What the reset did shows at once, not a poll interval later.
        case Command::ResetCounters:
            if (p.counterStep == 0) p.countersDue = now;
            break;
        case Command::ResetStatus: p.status.due = now; break;
    }
    return {};
}

}  // namespace kvbridge
