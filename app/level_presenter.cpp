#include "app/level_presenter.h"

#include "app/level_meter.h"
#include "app/level_strip.h"
#include "audio/level_tap.h"
#include "platform/clock.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <unistd.h>

namespace larkspur {

LevelPresenter::LevelPresenter(LevelStrip& strip, QWidget& window, std::function<std::string()> sourceDescription)
    : QObject(&window), strip_(strip), window_(window), sourceDescription_(std::move(sourceDescription)) {
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("levelTimer"));
    timer_->setInterval(40);
    connect(timer_, &QTimer::timeout, this, &LevelPresenter::Read);
}

LevelPresenter::~LevelPresenter() = default;

void LevelPresenter::Show(RecordingState state, const std::shared_ptr<LevelTap>& levels) {
    if (state != RecordingState::Finishing) paused_ = state == RecordingState::Paused;
    state_ = state;
    if (levels != tap_) {
        timer_->stop();
        wake_.reset();
        meter_.reset();
        tap_ = levels;
        strip_.ShowNothing();
    }
    Read();
}

void LevelPresenter::Tick() {
    if (!timer_->isActive() && meter_) Read();
}

void LevelPresenter::Exposed() {
    if (!timer_->isActive()) Read();
}

void LevelPresenter::Read() {
    if (!tap_) return;
    // Off screen the timer rests; the window's next expose starts it again.
    if (window_.isMinimized() || !window_.windowHandle() || !window_.windowHandle()->isExposed()) {
        tap_->StopWaking();
        return timer_->stop();
    }
    const bool fresh = !meter_;
    if (fresh) {
        meter_ = std::make_unique<LevelMeter>(tap_->Channels());
        if (tap_->WakeFd() >= 0) {
            wake_ = std::make_unique<QSocketNotifier>(tap_->WakeFd(), QSocketNotifier::Read);
            connect(wake_.get(), &QSocketNotifier::activated, this, [this](QSocketDescriptor fd) {
                std::uint64_t count;
                [[maybe_unused]] const auto read = ::read(int(fd), &count, sizeof count);
                if (meter_) meter_->Woken();
                Read();
            });
        }
    }
    const bool changed = meter_->Update(tap_->Take(), TheClock().Monotonic(), paused_);
    const QString source = SourceInWords(sourceDescription_());
    if (fresh || changed || source != strip_.Source()) strip_.ShowRecording(source, meter_->Current());
    // A recording being finished is read on until it is gone, which empties the strip.
    const bool exists = state_ == RecordingState::Recording || state_ == RecordingState::Paused;
    if (wake_ && exists && meter_->MayRest()) {
        tap_->WakeWhenOutside(meter_->PeakRanges());
        timer_->stop();
    } else {
        tap_->StopWaking();
        if (!timer_->isActive()) timer_->start();
    }
}

}  // namespace larkspur
