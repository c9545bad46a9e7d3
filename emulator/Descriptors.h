// What the endpoints share about descriptors: errors, closing, the local
// sockets of the cards and the control channel, and listeners that rest.
#pragma once

#include <cstdint>
#include <string>

namespace emu {

// "what: the system's reason" for the errno of the call that just failed.
std::string Errno(const std::string& what);
// Closes a descriptor that is open and marks it closed.
void CloseFd(int& fd);

// A listening Unix-domain socket of `type` at `path`, non-blocking; -1 with a
// reason.  A socket file left behind by an emulator that died is taken over;
// one that somebody still serves is not.
int ListenUnix(const std::string& path, int type, std::string& why);

// A connection that cannot be taken for want of a descriptor stays waiting
// and keeps its listener readable: poll() would return at once, round after
// round.  Its listener rests a while instead.
class ListenerRest {
public:
    bool Listening(int64_t nowMs) const { return nowMs >= untilMs_; }
    // After accept() failed: rests when descriptors or memory ran out.
    void AfterFailedAccept(int64_t nowMs);
    // When the rest ends; 0 when it is not resting.
    int64_t UntilMs() const { return untilMs_; }

private:
    int64_t untilMs_ = 0;
};

}  // namespace emu
