// The bridge's messages: one whole line each on standard error, which the
// service manager's journal keeps.  Lines of several threads never mix.
#pragma once

#include <string>

namespace kvbridge {

void Log(const std::string& line);

}  // namespace kvbridge
