#include "lua/local_time.hpp"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

namespace pelx04 {

#ifdef _WIN32
LocalTime readLocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute, now.wSecond};
}
#else
LocalTime readLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr) return {1970, 1, 4, 1, 0, 0, 0};
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_wday, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}
#endif

void formatDaytime(const LocalTime& time, char* text, std::size_t size) {
    static const char* const weekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const int day = time.dayOfWeek >= 0 && time.dayOfWeek < 7 ? time.dayOfWeek : 0;
    std::snprintf(text, size, "%04d/%02d/%02d %s %02d:%02d:%02d", time.year, time.month, time.day, weekdays[day],
                  time.hour, time.minute, time.second);
}

}  // namespace pelx04
