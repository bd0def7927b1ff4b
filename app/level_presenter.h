#pragma once
#include "app/recorder_ports.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;
class QTimer;
class QWidget;

namespace larkspur {

class LevelMeter;
class LevelStrip;
class LevelTap;

// The bottom strip's level meter, in one place: it reads the recording's level tap at its own
// pace and repaints the strip only when what it shows changed; nothing is read or painted while
// the window is off screen (minimised, or unmapped). While what it shows holds still, the reading
// rests until the tap tells of a change: a steady or silent recording then costs the window no
// wake-ups of its own. Told the recording's state and tap by the window; it reads nothing of the
// recording control.
class LevelPresenter : public QObject {
    Q_OBJECT
public:
    // sourceDescription: what is being recorded, in the server's words (may be empty).
    LevelPresenter(LevelStrip& strip, QWidget& window, std::function<std::string()> sourceDescription);
    ~LevelPresenter() override;

    void Show(RecordingState state, const std::shared_ptr<LevelTap>& levels);
    // The caption's tick: a resting reading is still taken, for moves too small to wake it.
    void Tick();
    // The window is on screen again.
    void Exposed();

private:
    void Read();

    LevelStrip& strip_;
    QWidget& window_;
    std::function<std::string()> sourceDescription_;
    QTimer* timer_;
    RecordingState state_ = RecordingState::Idle;
    bool paused_ = false;  // a recording finished from a pause keeps its bars at rest
    std::shared_ptr<LevelTap> tap_;  // the recording shown: the window's side of the tap
    std::unique_ptr<LevelMeter> meter_;
    std::unique_ptr<QSocketNotifier> wake_;  // the tap's wake-up while the reading rests
};

}  // namespace larkspur
