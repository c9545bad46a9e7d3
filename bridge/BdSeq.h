// The Sparkplug node's bdSeq kept across restarts.  A host pairs a node's
// death (the will, with the bdSeq of its session) with the birth of the same
// bdSeq; a bridge that started again at 0 after a crash or an upgrade could
// have its old session's death taken for the new one's.  So the bdSeq of
// every session the broker takes is kept in a file of the bridge's state
// folder, and a restarted node goes on from the next one.
#pragma once

#include "Config.h"

#include <cstdint>
#include <string>

namespace kvbridge {

// The bridge's state folder: the service's ($STATE_DIRECTORY, which
// StateDirectory= in the unit gives), else the user's
// ($XDG_STATE_HOME/kv618-bridge, or ~/.local/state/kv618-bridge); empty
// when there is none.
std::string StateFolder();

class StoredBdSeq {
public:
    // The file of the node `broker` names (group and edge node id) in `folder`.
    StoredBdSeq(const BrokerConfig& broker, const std::string& folder = StateFolder());

    // The bdSeq of the first session: the kept one + 1, or 0 when none is
    // kept (a damaged file is logged).
    uint64_t First();
    // Keeps the bdSeq of a session the broker took; a failure is logged
    // once, and the node goes on without.
    void Keep(uint64_t bdSeq);
    const std::string& Path() const { return path_; }

private:
    std::string path_;  // empty: nowhere to keep it
    int64_t kept_ = -1;
    bool failed_ = false;
};

}  // namespace kvbridge
