#include "Clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace emu {

int64_t SystemClock::SteadyMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t SteadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// From the precise clock: time() may still give the last second for a few
// milliseconds after it turned, which would put a clock set on the turn of a
// second one second ahead.
int64_t SystemClock::HostWallMs() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local {};
    ::localtime_r(&now.tv_sec, &local);
    return static_cast<int64_t>(::timegm(&local)) * 1000 + now.tv_nsec / 1'000'000;
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

}  // namespace

CivilTime ToCivil(int64_t wall) {
    int64_t days = wall / 86400;
    int64_t rest = wall % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

int64_t FromCivil(const CivilTime& t) {
    return DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) * 86400 +
           t.hour * 3600 + t.minute * 60 + t.second;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

std::string FormatWall(int64_t wall) {
    const CivilTime t = ToCivil(wall);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

namespace {

bool ParseFields(std::string_view text, char separator, int (&out)[3]) {
    int field = 0;
    int value = 0;
    int digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 4) return false;
            value = value * 10 + (c - '0');
        } else if (c == separator && digits > 0 && field < 2) {
            out[field++] = value;
            value = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || field != 2) return false;
    out[2] = value;
    return true;
}

}  // namespace

bool ParseWall(std::string_view date, std::string_view time, int64_t& wall) {
    int d[3], t[3];
    if (!ParseFields(date, '-', d) || !ParseFields(time, ':', t)) return false;
    if (d[0] < 1970 || d[0] > 9999 || d[1] < 1 || d[1] > 12 || d[2] < 1 || d[2] > DaysInMonth(d[0], d[1]))
        return false;
    if (t[0] > 23 || t[1] > 59 || t[2] > 59) return false;
    wall = FromCivil({d[0], d[1], d[2], t[0], t[1], t[2]});
    return true;
}

}  // namespace emu
