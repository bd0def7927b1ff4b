#include "platform/clock.h"

#include <ctime>

namespace larkspur {
namespace {

class SystemClock final : public Clock {
public:
    SystemTime LocalTime() override { return LocalTimeAt(std::chrono::system_clock::now()); }
    std::chrono::milliseconds Monotonic() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

Clock*& Override() {
    static Clock* clock = nullptr;
    return clock;
}

}  // namespace

Clock& TheClock() {
    static SystemClock system;
    return Override() ? *Override() : system;
}

Clock* SetClockForTest(Clock* clock) {
    Clock* previous = Override();
    Override() = clock;
    return previous;
}

SystemTime LocalTimeAt(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(moment);
    const std::time_t t = system_clock::to_time_t(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    auto u16 = [](long v) { return static_cast<std::uint16_t>(v); };
    return SystemTime{u16(tm.tm_year + 1900), u16(tm.tm_mon + 1), u16(tm.tm_wday), u16(tm.tm_mday),
                      u16(tm.tm_hour), u16(tm.tm_min), u16(tm.tm_sec),
                      u16(duration_cast<milliseconds>(moment - seconds).count())};
}

}  // namespace larkspur
