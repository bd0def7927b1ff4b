#pragma once
#include <chrono>
#include <cstdint>

// The two clocks of the recorder: the local date and time (file names, the recorded start and
// pause times) and a monotonic clock for elapsed time, which midnight and clock changes do not
// disturb. Tests put their own clock in place.
namespace larkspur {

// A local date and time; every field as the platform's local-time call fills it.
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;      // 1..12
    std::uint16_t dayOfWeek = 0;  // 0 = Sunday
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
    bool operator==(const SystemTime&) const = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual SystemTime LocalTime() = 0;
    // Time since an arbitrary fixed point; never goes back.
    virtual std::chrono::milliseconds Monotonic() = 0;
};

// The clock in use: the system's unless a test has put its own in place.
Clock& TheClock();
// Puts a test double in place (nullptr restores the system's); returns the previous override.
Clock* SetClockForTest(Clock* clock);

// A moment of the system clock in the local time zone.
SystemTime LocalTimeAt(std::chrono::system_clock::time_point moment);

}  // namespace larkspur
