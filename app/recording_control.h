#pragma once
#include "app/recorder_ports.h"
#include "app/temp_file_lock.h"
#include "platform/clock.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace larkspur {

class EarlyMp3;
class Finisher;
class LevelTap;
class TMediaPlayer;

// hh:mm:ss; each part has at least two digits ("100:00:00" for 100 hours).
QString FormatHms(std::int32_t seconds);

struct RecordingFormat {
    std::uint16_t channels;
    std::uint16_t bitsPerSample;
    std::int32_t sampleRate;
    bool operator==(const RecordingFormat&) const = default;
};

// The format chosen by the positions of the three Audio options lists. A list without a valid
// position counts as its first entry.
RecordingFormat FormatFromChoices(int rateIndex, int sizeIndex, int trackIndex);

// Record, Pause and Stop, the half-second tick with the caption and application title, and the
// enabled state of the controls. Stop hands the recording to the Finisher; so does the tick that
// finds the device faulted, at once.
//
// The elapsed time shown runs on the monotonic clock with paused time left out; StartTime and
// PauseTime keep the local times of start and pause.
class RecordingControl {
public:
    // dir: where the temporary file lives, ending in "/".
    RecordingControl(RecorderView& view, TMediaPlayer& device, const RecorderSettings& settings,
                     Finisher& finisher, QString dir);

    void Record();  // record, or resume when paused
    void Pause();
    void Stop();
    void Tick();

    RecordingState State() const { return state_; }
    // A recording exists (starting, running or paused).
    bool IsRecording() const {
        return state_ == RecordingState::Starting || state_ == RecordingState::Recording ||
               state_ == RecordingState::Paused;
    }
    bool IsPaused() const { return state_ == RecordingState::Paused; }
    bool IsFinishing() const { return state_ == RecordingState::Finishing; }
    bool IsStarting() const { return state_ == RecordingState::Starting; }

    const SystemTime& StartTime() const { return startTime_; }
    const SystemTime& PauseTime() const { return pauseTime_; }
    const QString& PausedCaption() const { return pausedCaption_; }
    const QString& TempPath() const { return tempPath_; }
    // The levels of the recording that exists, or null.
    const std::shared_ptr<LevelTap>& Levels() const { return levels_; }

private:
    bool ClaimTempFile(std::optional<QString>& notice);
    std::optional<QString> KeepLeftover();
    QString MoveAside();
    void KeepTempFileNamed();
    void BeginRecording();
    void ShowTime();
    void Finish();
    void ReturnToIdle();
    void PrepareEarlyMp3(const RecordingFormat& format);
    QString ElapsedText() const;

    RecorderView& view_;
    TMediaPlayer& device_;
    const RecorderSettings& settings_;
    Finisher& finisher_;
    const QString dir_;

    // Changed here only; the view is told each new one once it holds (RecorderView::ShowState).
    RecordingState state_ = RecordingState::Idle;
    SystemTime startTime_;
    SystemTime pauseTime_;
    QString pausedCaption_;
    QString tempPath_;
    TempFileLock lock_;  // held on the temporary file while a recording exists
    int unnamedTicks_ = 0;  // ticks since the temporary file was found without a name
    std::shared_ptr<EarlyMp3> earlyMp3_;  // the MP3 encoded while recording, where one may be wanted
    std::shared_ptr<LevelTap> levels_;     // the levels of the recording that exists
    std::chrono::milliseconds startMark_{0};  // monotonic start, moved forward by every pause
    std::chrono::milliseconds pauseMark_{0};
};

}  // namespace larkspur
