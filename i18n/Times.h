// Time stamps as the tools print them: ISO 8601 in local time with its UTC
// offset, so that a log read in another zone, or across a change of summer
// time, still names the moment.
#pragma once

#include <chrono>
#include <string>

namespace i18n {

// 2026-12-07T11:56:39+01:00, or 2026-12-07T11:56:39.015+01:00 with milliseconds.
std::string IsoTime(std::chrono::system_clock::time_point when, bool milliseconds = true);

}  // namespace i18n
