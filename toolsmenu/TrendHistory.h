// What the trend window keeps of its polls: every sample with its time, and
// the moments a poll failed (the module silent or refusing), for a bounded
// stretch of time, so that an hour of polls at 100 ms holds a few MiB and no
// more.  Plain C++: the window draws it and writes it out.
#pragma once

#include "LiveValues.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <utility>

class TrendHistory {
public:
    using Clock = std::chrono::system_clock;

    struct Entry {
        kv618::Sample sample;  // its time alone for a failed poll
        bool failed = false;
    };

    explicit TrendHistory(std::chrono::minutes keep = std::chrono::minutes(60)) : keep_(keep) {}

    void Add(const kv618::Sample& sample) { Push({sample, false}); }
    void AddFailure(Clock::time_point when) { Push({{when}, true}); }
    void Clear() { entries_.clear(); }

    const std::deque<Entry>& Entries() const { return entries_; }
    bool Empty() const { return entries_.empty(); }
    Clock::time_point First() const { return entries_.front().sample.when; }
    Clock::time_point Last() const { return entries_.back().sample.when; }
    std::chrono::minutes Keeps() const { return keep_; }
    // The entries from the last one before `from` to the first one after
    // `to`: what a view of that stretch needs to draw its edges.
    std::pair<size_t, size_t> Around(Clock::time_point from, Clock::time_point to) const;
    // The memory the entries take, about.
    size_t Bytes() const { return entries_.size() * sizeof(Entry); }

private:
    void Push(Entry entry);

    std::chrono::minutes keep_;
    std::deque<Entry> entries_;
};
