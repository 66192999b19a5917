// The local wall-clock time, from whatever the platform offers.
#pragma once

#include <cstddef>

namespace pelx04 {

struct LocalTime {
    int year, month, dayOfWeek, day, hour, minute, second;  // month 1..12, dayOfWeek 0 = Sunday
};

LocalTime readLocalTime();

// "YYYY/MM/DD Www hh:mm:ss" into text (at least 24 bytes, always terminated).
void formatDaytime(const LocalTime& time, char* text, std::size_t size);

}  // namespace pelx04
