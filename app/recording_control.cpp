#include "app/recording_control.h"

#include "app/finishing.h"
#include "app/format_template.h"
#include "app/level_meter.h"
#include "app/output_name.h"
#include "audio/mp3/early_mp3.h"
#include "audio/level_tap.h"
#include "audio/media_player.h"
#include "audio/wave_file.h"
#include "platform/message_box.h"
#include "platform/own_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <utility>

namespace larkspur {
namespace {

const QString kCaptionPrefix = QStringLiteral("Larkspur - ");

int SecondsOfDay(const SystemTime& t) { return t.hour * 3600 + t.minute * 60 + t.second; }

QString TwoDigits(std::int32_t n) {
    return n < 10 ? QStringLiteral("0%1").arg(n) : QString::number(n);
}

QString ClampedHms(std::int64_t seconds) {
    return FormatHms(static_cast<std::int32_t>(std::clamp<std::int64_t>(seconds, 0, std::numeric_limits<std::int32_t>::max())));
}

// Clears a flag when it goes out of scope, also when an error leaves the scope.
}  // namespace

QString FormatHms(std::int32_t seconds) {
    return TwoDigits(seconds / 3600) + QLatin1Char(':') + TwoDigits(seconds % 3600 / 60) +
           QLatin1Char(':') + TwoDigits(seconds % 60);
}

RecordingFormat FormatFromChoices(int rateIndex, int sizeIndex, int trackIndex) {
    static constexpr std::int32_t kRates[] = {44100, 32000, 24000, 22050, 16000};
    static constexpr std::uint16_t kBits[] = {16, 8};
    static constexpr std::uint16_t kChannels[] = {2, 1};
    auto pick = [](const auto& list, int index) {
        return index >= 0 && index < static_cast<int>(std::size(list)) ? list[index] : list[0];
    };
    return {pick(kChannels, trackIndex), pick(kBits, sizeIndex), pick(kRates, rateIndex)};
}

RecordingControl::RecordingControl(RecorderView& view, TMediaPlayer& device, const RecorderSettings& settings,
                                   Finisher& finisher, QString dir)
    : view_(view), device_(device), settings_(settings), finisher_(finisher), dir_(std::move(dir)) {}

void RecordingControl::Record() {
    view_.SetMenusEnabled(false);
    view_.SetButtonsEnabled(false, true, true, false);
    const bool wasPaused = state_ == RecordingState::Paused;
    Clock& clock = TheClock();
    if (IsRecording()) {
        if (wasPaused) state_ = RecordingState::Recording;
        device_.Record();
        view_.SetTimerEnabled(true);
        const int x = SecondsOfDay(clock.LocalTime()) - (SecondsOfDay(pauseTime_) - SecondsOfDay(startTime_));
        startTime_.hour = static_cast<std::uint16_t>(x / 3600);
        startTime_.minute = static_cast<std::uint16_t>(x % 3600 / 60);
        startTime_.second = static_cast<std::uint16_t>(x % 60);
        if (wasPaused) startMark_ += clock.Monotonic() - pauseMark_;
        return view_.ShowState(state_, levels_);
    }
    state_ = RecordingState::Starting;
    // Counted from here should the device fail to start, so that Stop shows a sensible time.
    startMark_ = clock.Monotonic();
    std::optional<QString> notice;  // what was done with what had the temporary file's name
    {
        view_.ShowState(state_, levels_);
        // Until the temporary file is this recording's own, nothing has started: a refusal or a
        // leftover that cannot be kept leaves the window idle.
        auto idle = qScopeGuard([this] { ReturnToIdle(); });
        if (!ClaimTempFile(notice)) return;
        idle.dismiss();
        // A device that fails to open leaves a recording without a capture, which Stop ends.
        auto failed = qScopeGuard([this] {
            state_ = RecordingState::Recording;
            view_.ShowState(state_, nullptr);
        });
        BeginRecording();
        failed.dismiss();
    }
    // A Stop in a box's loop while it started may have finished it already.
    if (state_ == RecordingState::Starting) state_ = RecordingState::Recording;
    view_.SetCaption(kCaptionPrefix + QStringLiteral("00:00:00"));
    SetApplicationTitle(view_.Caption());
    // Marked before the timer starts, so that every second tick lands on or just after a whole
    // second and shows it, rather than a hair before it and showing the second before.
    startMark_ = clock.Monotonic();
    view_.SetTimerEnabled(true);
    startTime_ = clock.LocalTime();
    view_.ShowState(state_, levels_);
    // Told once the capture runs: a hotkey user may not see the box for a while, and the
    // recording must not wait for it. It comes last, as its loop may run a Stop.
    if (notice) ShowMessageBox(ApplicationTitle(), *notice, BoxIcon::Information);
}

void RecordingControl::Pause() {
    if (!IsRecording()) return;
    state_ = RecordingState::Paused;
    pausedCaption_ = view_.Caption();
    view_.SetButtonsEnabled(true, false, true, false);
    pauseTime_ = TheClock().LocalTime();
    pauseMark_ = TheClock().Monotonic();
    device_.Stop();
    view_.ShowState(state_, levels_);
}

void RecordingControl::Stop() {
    view_.SetMenusEnabled(true);
    if (!IsRecording()) return;
    ShowTime();
    Finish();
}

void RecordingControl::Tick() {
    // A fault of the device finishes the recording at once, showing the time that was recorded.
    if ((state_ == RecordingState::Recording || state_ == RecordingState::Paused) && device_.IsOpen()) {
        if (const auto fault = device_.Fault()) {
            const QString recorded = ClampedHms(fault->kept.count() / 1000);
            view_.SetCaption(kCaptionPrefix + recorded);
            SetApplicationTitle(recorded);
            Finish();
            return;
        }
    }
    ShowTime();
    // Paused, the device writes nothing and brings nothing back until the resume.
    if (state_ == RecordingState::Recording) KeepTempFileNamed();
}

// The temporary file's folder deleted during the recording: the device brings the file back
// under its name (audio/wave_file.h), and the lock and the user follow. A path is named only
// once it was found there.
void RecordingControl::KeepTempFileNamed() {
    if (!lock_.Unnamed()) {
        unnamedTicks_ = 0;
        return;
    }
    if (IsOwnRegularFile(QFile::encodeName(tempPath_).toStdString())) {
        lock_.Acquire(tempPath_);
        unnamedTicks_ = 0;
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("The folder of the recording was deleted while it ran. The recording was "
                                      "brought back as \"%1\" and goes on there.")
                           .arg(tempPath_),
                       BoxIcon::Warning);
        return;
    }
    // Told once, after two seconds in which the file could not be made again.
    if (++unnamedTicks_ == 4)
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("The folder of the recording, \"%1\", was deleted while it ran and cannot be "
                                      "made again. Make it again, or the recording will be lost.")
                           .arg(QDir::toNativeSeparators(dir_)),
                       BoxIcon::Error);
}

// The elapsed time, or the blinking caption of a pause.
void RecordingControl::ShowTime() {
    if (state_ == RecordingState::Paused) {
        view_.SetTimerTag(view_.TimerTag() == 1 ? 0 : 1);
        view_.SetCaption(view_.TimerTag() == 1 ? pausedCaption_ + QStringLiteral(" Paused") : pausedCaption_);
        const QString caption = view_.Caption();
        SetApplicationTitle(caption.startsWith(kCaptionPrefix) ? caption.mid(kCaptionPrefix.size()) : caption);
        return;
    }
    view_.SetCaption(kCaptionPrefix + ElapsedText());
    SetApplicationTitle(ElapsedText());
}

void RecordingControl::Finish() {
    view_.SetMenusEnabled(true);
    view_.SetTimerEnabled(false);
    view_.SetButtonsEnabled(true, true, true, true);
    state_ = RecordingState::Finishing;
    view_.ShowState(state_, levels_);
    std::shared_ptr<LevelTap> levels;  // what the recording heard
    {
        // The temporary file is no longer this instance's once the finish is over, also where
        // it failed (the device never opened, a box told of it).
        const auto done = qScopeGuard([&] {
            lock_.Release();
            if (state_ != RecordingState::Finishing) return;
            state_ = RecordingState::Idle;
            levels = std::exchange(levels_, nullptr);
            view_.ShowState(state_, levels_);
        });
        device_.SetSampleTap(nullptr);
        finisher_.FinishRecording(tempPath_, std::move(earlyMp3_));
    }
    SetApplicationTitle(QStringLiteral("Larkspur - Stop"));
    if (const auto heard = levels ? std::optional(levels->Take()) : std::nullopt;
        heard && !heard->everSound && heard->keptSeconds > 0) {
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("The recording holds only silence: nothing came in from \"%1\". To record "
                                      "another source, choose it with the Volume / Device button of the Audio "
                                      "options.")
                           .arg(SourceInWords(device_.SourceDescription())),
                       BoxIcon::Warning);
    }
}

void RecordingControl::ReturnToIdle() {
    state_ = RecordingState::Idle;
    levels_.reset();
    view_.ShowState(state_, levels_);
    lock_.Release();
    view_.SetMenusEnabled(true);
    view_.SetButtonsEnabled(true, true, true, true);
}

// The temporary file is locked before anything is done with it: another instance recording into
// it keeps it. A leftover of an earlier session is moved away and the lock goes to a fresh file.
// What has the name and is not the recorder's own file (a link, a folder, a file with another
// name, one that is no wave file) is moved aside first: never written through, never deleted.
bool RecordingControl::ClaimTempFile(std::optional<QString>& notice) {
    tempPath_ = dir_ + QStringLiteral("~temp.wav");
    auto lock = [this] {
        if (lock_.Acquire(tempPath_) != TempFileLock::Result::HeldElsewhere) return true;
        ShowMessageBox(ApplicationTitle(),
                       QStringLiteral("Another Larkspur is recording in this folder (\"%1\"). Stop that "
                                      "recording first, or record from a copy of Larkspur in another folder.")
                           .arg(QDir::toNativeSeparators(dir_)),
                       BoxIcon::Warning);
        return false;
    };
    const QFileInfo there(tempPath_);
    if ((there.exists() || there.isSymLink()) && !IsOwnRegularFile(QFile::encodeName(tempPath_).toStdString())) {
        notice = MoveAside();
        return lock();
    }
    if (!lock()) return false;
    notice = KeepLeftover();
    return !notice || lock();
}

void RecordingControl::BeginRecording() {
    const RecordingFormat format =
        FormatFromChoices(settings_.SampleRateIndex(), settings_.SampleSizeIndex(), settings_.TrackIndex());
    WriteFormatTemplate(format.channels, format.bitsPerSample, format.sampleRate, tempPath_);
    // The template is a new file: the lock moves to it.
    lock_.Acquire(tempPath_);
    PrepareEarlyMp3(format);
    levels_ = std::make_shared<LevelTap>(
        WaveFormat{format.channels, std::uint32_t(format.sampleRate), format.bitsPerSample}, earlyMp3_);
    device_.SetSampleTap(levels_);
    device_.SetDeviceType(dtAutoSelect);
    device_.SetFileName(QFile::encodeName(tempPath_).toStdString());
    device_.Open();
    device_.Record();
}

// A temporary file holding more than the template is a recording that was never finished (the
// program was closed or ended during it): it is kept under the name its time would have given it.
// Returns what to tell the user, when something was moved away.
std::optional<QString> RecordingControl::KeepLeftover() {
    const QFileInfo info(tempPath_);
    if (!info.exists() && !info.isSymLink()) return std::nullopt;
    // Something put there since the look before the lock.
    if (!IsOwnRegularFile(QFile::encodeName(tempPath_).toStdString())) return MoveAside();
    // A bare template is written anew by the next one.
    if (info.size() <= static_cast<qint64>(kWaveHeaderSize)) return std::nullopt;
    WaveFormat format;
    if (ReadWaveFormat(QFile::encodeName(tempPath_).toStdString(), format) != kCaptureOk) return MoveAside();
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(info.lastModified().toMSecsSinceEpoch()));
    const QString kept = FreeName(AutomaticName(dir_, LocalTimeAt(modified)));
    if (!MoveRecording(tempPath_, kept)) {
        throw std::runtime_error(
            QStringLiteral("An unfinished recording in \"%1\" could not be kept as \"%2\"; move it elsewhere "
                           "before recording again")
                .arg(tempPath_, kept)
                .toStdString());
    }
    return QStringLiteral("An unfinished recording from an earlier session was kept as \"%1\".").arg(kept);
}

// Moves what has the temporary file's name and is no recording out of the way, under a name of
// its own in the same folder; the link itself, never its target. Returns what to tell the user.
QString RecordingControl::MoveAside() {
    const QString aside = FreeName(dir_ + QStringLiteral("~temp (not a recording).wav"));
    if (::rename(QFile::encodeName(tempPath_).constData(), QFile::encodeName(aside).constData()) != 0) {
        throw std::runtime_error(QStringLiteral("\"%1\" is not a recording and could not be moved aside; move it "
                                                "elsewhere before recording again")
                                     .arg(tempPath_)
                                     .toStdString());
    }
    return QStringLiteral("\"%1\" was not a recording of Larkspur's, so it was moved aside to \"%2\".")
        .arg(tempPath_, aside);
}

// Where the finished recording may become an MP3 (MP3 chosen, or a name to be asked for, which
// may end in ".mp3"), it is encoded while it is recorded, in a file beside the temporary one.
// One left by a crash is incomplete and goes; the leftover wave file was kept above.
void RecordingControl::PrepareEarlyMp3(const RecordingFormat& format) {
    const QString path = dir_ + QStringLiteral("~temp.mp3");
    earlyMp3_.reset();
    const WaveFormat wave{format.channels, std::uint32_t(format.sampleRate), format.bitsPerSample};
    if ((settings_.SaveToMp3() || settings_.AskForFileName()) && EarlyMp3::Accepts(wave))
        earlyMp3_ = std::make_shared<EarlyMp3>(QFile::encodeName(path).toStdString(), wave);
}

QString RecordingControl::ElapsedText() const {
    return ClampedHms((TheClock().Monotonic() - startMark_).count() / 1000);
}

}  // namespace larkspur
