#pragma once
#include "audio/level_tap.h"

#include <array>
#include <chrono>
#include <QString>
#include <optional>
#include <string>
#include <vector>

// What the bottom strip shows of the levels while a recording exists: a peak bar per channel on
// a dBFS scale with a short peak hold and a clip mark, or a warning in words when only digital
// silence has come in for a while. Fed with the level tap's readings; tells when what it shows
// changed, so that the strip repaints only then.
namespace larkspur {

class LevelMeter {
public:
    static constexpr double kFloorDb = -60;            // the left end of the bars
    static constexpr std::chrono::milliseconds kHold{1500};  // a peak's mark stays this long
    static constexpr std::chrono::milliseconds kClipHold{2000};
    static constexpr double kSilenceWarningSeconds = 3;
    static constexpr int kSteadyReadings = 5;  // unchanged readings before the meter may rest

    struct Bar {
        double db = kFloorDb;
        double holdDb = kFloorDb;
        bool clipped = false;
        bool operator==(const Bar&) const = default;
    };
    struct Shown {
        std::vector<Bar> bars;
        bool silent = false;  // the warning stands in place of the bars
        bool operator==(const Shown&) const = default;
    };

    explicit LevelMeter(int channels);

    // Folds a reading in, taken at `now`; paused, the bars rest at the floor. True when what is
    // shown changed (levels compared at the half decibel).
    bool Update(const LevelTap::Reading& reading, std::chrono::milliseconds now, bool paused);
    const Shown& Current() const { return shown_; }

    // What is shown has held still for a while and nothing in it runs out with time (a peak
    // hold above its bar, a clip mark, silence on its way to the warning): reading may rest until
    // a channel's peak moves more than kRestMarginDb away from its bar (PeakRanges); smaller
    // moves wait for the next reading.
    bool MayRest() const;
    std::array<LevelTap::PeakRange, LevelTap::kMaxChannels> PeakRanges() const;
    static constexpr double kRestMarginDb = 0.75;
    // Woken by a change, the meter reads for a while before it rests again.
    void Woken() { unchanged_ = 0; }

    // 20 log10 of a peak of 0 to 1, never below the floor.
    static double Db(double peak);

private:
    struct Held {
        double db = kFloorDb;
        std::chrono::milliseconds at{};
        std::optional<std::chrono::milliseconds> clipAt;
    };
    std::vector<Held> held_;
    Shown shown_;
    int unchanged_ = 0;  // readings since what is shown last changed
    bool silenceGrowing_ = false;  // silence comes in and is not told yet
};

// The source being recorded, in words a person recognises: the device's description of it, or
// what was chosen where the device has told none yet.
QString SourceInWords(const std::string& described);

}  // namespace larkspur
