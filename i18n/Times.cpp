#include "Times.h"

#include <cstdio>
#include <ctime>

namespace i18n {

std::string IsoTime(std::chrono::system_clock::time_point when, bool milliseconds) {
    using namespace std::chrono;
    const auto since = when.time_since_epoch();
    const auto whole = floor<seconds>(since);
    const std::time_t seconds = whole.count();
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(zone, sizeof zone, "%z", &local);  // +0100
    char text[64];
    if (milliseconds)
        std::snprintf(text, sizeof text, "%s.%03d%.3s:%.2s", date,
                      static_cast<int>(duration_cast<std::chrono::milliseconds>(since - whole).count()), zone, zone + 3);
    else
        std::snprintf(text, sizeof text, "%s%.3s:%.2s", date, zone, zone + 3);
    return text;
}

}  // namespace i18n
