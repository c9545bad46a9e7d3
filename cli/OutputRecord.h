// What kv618 last wrote to each module's outputs.  The module reports its
// inputs but never its outputs, so setting or clearing single outputs starts
// from this record; a write whose outcome is unknown drops the record, and
// the next single change is refused until all outputs are written again.
#pragma once

#include "Outcome.h"

#include <cstdint>
#include "Outcome.h"

#include <optional>
#include <string>

namespace cli::outputs {

// $XDG_STATE_HOME/r_iv618/outputs, else ~/.local/state/r_iv618/outputs.
std::string RecordFile();
std::optional<uint32_t> Recorded(const std::string& module);
// Fails with why the record could not be kept.
kv618::Outcome<> Record(const std::string& module, std::optional<uint32_t> value);

}  // namespace cli::outputs
