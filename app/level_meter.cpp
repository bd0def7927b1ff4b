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
    if (next == shown_) return false;
    shown_ = std::move(next);
    return true;
}

QString SourceInWords(const std::string& described) {
    if (!described.empty()) return QString::fromStdString(described);
    const CaptureSource source = ChosenCaptureSource();
    switch (source.kind) {
    case CaptureSource::Kind::DefaultOutputMonitor:
        return QStringLiteral("Stereo Mix");
    case CaptureSource::Kind::Named:
        return QString::fromStdString(source.name);
    case CaptureSource::Kind::ServerDefault:
        break;
    }
    return QStringLiteral("The default recording input");
}

}  // namespace larkspur
