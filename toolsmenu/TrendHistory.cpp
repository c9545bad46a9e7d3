#include "TrendHistory.h"

#include <algorithm>

void TrendHistory::Push(Entry entry) {
    // A clock set back would break the order the view searches by.
    if (!entries_.empty() && entry.sample.when < Last()) entry.sample.when = Last();
    entries_.push_back(entry);
    const auto oldest = Last() - keep_;
    while (entries_.size() > 1 && entries_.front().sample.when < oldest) entries_.pop_front();
}

std::pair<size_t, size_t> TrendHistory::Around(Clock::time_point from, Clock::time_point to) const {
    const auto earlier = [](const Entry& e, Clock::time_point t) { return e.sample.when < t; };
    const auto begin = std::lower_bound(entries_.begin(), entries_.end(), from, earlier);
    const auto end = std::lower_bound(begin, entries_.end(), to, earlier);
    const size_t first = static_cast<size_t>(begin - entries_.begin());
    const size_t last = static_cast<size_t>(end - entries_.begin());
    return {first > 0 ? first - 1 : 0, std::min(last + 1, entries_.size())};
}
