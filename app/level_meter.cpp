#include "app/level_meter.h"

#include "platform/capture_source.h"

#include <algorithm>
#include <cmath>

namespace larkspur {

namespace {

double HalfDb(double db) { return std::round(db * 2) / 2; }

}  // namespace

LevelMeter::LevelMeter(int channels)
    : held_(std::size_t(std::clamp(channels, 1, LevelTap::kMaxChannels))) {
    shown_.bars.resize(held_.size());
}

double LevelMeter::Db(double peak) {
    return peak <= 0 ? kFloorDb : std::max(kFloorDb, 20 * std::log10(peak));
}

bool LevelMeter::Update(const LevelTap::Reading& reading, std::chrono::milliseconds now, bool paused) {
    Shown next;
    next.silent = !paused && reading.silentSeconds >= kSilenceWarningSeconds;
    silenceGrowing_ = !paused && !next.silent && reading.silentSeconds > 0;
    for (std::size_t c = 0; c < held_.size(); ++c) {
        Held& h = held_[c];
        Bar bar;
        if (!paused) {
            bar.db = HalfDb(Db(reading.peak[c]));
            if (bar.db >= h.db || now - h.at > kHold) h = {bar.db, now, h.clipAt};
            if (reading.clipped[c]) h.clipAt = now;
            bar.holdDb = h.db;
            bar.clipped = h.clipAt && now - *h.clipAt < kClipHold;
        } else {
            h = {};
        }
        next.bars.push_back(bar);
    }
    if (next == shown_) {
        ++unchanged_;
        return false;
    }
    shown_ = std::move(next);
    unchanged_ = 0;
    return true;
}

bool LevelMeter::MayRest() const {
    return unchanged_ >= kSteadyReadings && !silenceGrowing_ &&
           std::all_of(shown_.bars.begin(), shown_.bars.end(),
                       [](const Bar& b) { return b.holdDb == b.db && !b.clipped; });
}

std::array<LevelTap::PeakRange, LevelTap::kMaxChannels> LevelMeter::PeakRanges() const {
    std::array<LevelTap::PeakRange, LevelTap::kMaxChannels> ranges{};
    const auto peakAt = [](double db) { return std::pow(10.0, db / 20); };
    for (std::size_t c = 0; c < shown_.bars.size(); ++c) {
        // Everything below the floor shows the floor.
        const double db = shown_.bars[c].db;
        ranges[c] = {db <= kFloorDb ? 0 : peakAt(db - kRestMarginDb), peakAt(db + kRestMarginDb)};
    }
    return ranges;
}

QString SourceInWords(const std::string& described) {
    if (!described.empty()) return QString::fromStdString(described);
    const CaptureSource source = ChosenCaptureSource();
    switch (source.kind) {
    case CaptureSource::Kind::DefaultOutputMonitor:
        return QStringLiteral("Stereo Mix");
    case CaptureSource::Kind::Named:
    case CaptureSource::Kind::Program:
        return QString::fromStdString(source.name);
    case CaptureSource::Kind::ServerDefault:
        break;
    }
    return QStringLiteral("The default recording input");
}

}  // namespace larkspur
