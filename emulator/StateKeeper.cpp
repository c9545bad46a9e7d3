#include "StateKeeper.h"
#include "Messages.h"
#include "Options.h"
#include "StateFile.h"

#include <iostream>

namespace emu {

namespace {

// A turn of the loop saves state files for at most this long, so that with
// many modules on the line a reply never waits for all of them.
constexpr int64_t SaveSliceUs = 2000;

}  // namespace

void StateKeeper::PowerUp() {
    for (size_t i = 0; i < bus_.size(); ++i) {
        EmulatedModule& m = bus_.at(i).module;
        if (stateFile_.empty()) {
            m.PowerUp(std::nullopt);
            continue;
        }
        const std::string file = StateFileOf(stateFile_, i);
        ModuleState state;
        std::string why;
        switch (LoadStateFile(file, state, why)) {
            case LoadResult::Loaded:
                m.Restore(state);
                m.PowerUp(state.lastAlive);
                break;
            case LoadResult::Damaged:
                std::cerr << "kv618emu: "
                          << i18n::Fill(_("state file %s is damaged (%s); starting from the defaults"), file, why)
                          << '\n';
                m.PowerUp(std::nullopt);
                break;
            case LoadResult::Missing:
                m.PowerUp(std::nullopt);
                break;
        }
    }
    SaveAll();
}

bool StateKeeper::SaveModule(size_t index, std::string& errors) {
    std::string why;
    if (SaveStateFile(StateFileOf(stateFile_, index), bus_.at(index).module.State(), why)) return true;
    errors += why;
    return false;
}

void StateKeeper::EndRound(const std::string& errors) {
    if (!errors.empty() && errors != lastError_)
        std::cerr << "kv618emu: " << i18n::Fill(_("cannot keep the state: %s"), errors) << '\n';
    lastError_ = errors;
}

void StateKeeper::SaveAll() {
    if (stateFile_.empty()) return;
    std::string errors;
    for (size_t i = 0; i < bus_.size(); ++i) SaveModule(i, errors);
    EndRound(errors);
    next_ = SIZE_MAX;
}

// Once a second a round saves every module's file, a slice of it per turn
// of the loop: a bus of hundreds of modules would otherwise hold every reply
// back for as long as all their files take.
void StateKeeper::SaveSome() {
    if (next_ >= bus_.size()) {
        if (clock_.SteadyMs() < nextRoundMs_) return;
        nextRoundMs_ = clock_.SteadyMs() + SaveIntervalMs;
        if (stateFile_.empty()) return;
        next_ = 0;
        roundErrors_.clear();
    }
    const int64_t until = SteadyUs() + SaveSliceUs;
    do SaveModule(next_++, roundErrors_);
    while (next_ < bus_.size() && SteadyUs() < until);
    if (next_ == bus_.size()) {
        EndRound(roundErrors_);
        next_ = SIZE_MAX;
    }
}

int64_t StateKeeper::DueMs() const { return next_ < bus_.size() ? clock_.SteadyMs() : nextRoundMs_; }

}  // namespace emu
