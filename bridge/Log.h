// The bridge's messages: one whole line each on standard error, which the
// service manager's journal keeps, after the time in ISO 8601 with its UTC
// offset.  Lines of several threads never mix.  The texts are English in the
// code and follow the locale (Messages.h).
#pragma once

#include <string>

namespace kvbridge {

void Log(const std::string& line);

}  // namespace kvbridge
