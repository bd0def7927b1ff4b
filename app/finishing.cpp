#include "app/finishing.h"

#include "app/output_name.h"
#include "app/recording_control.h"
#include "audio/mp3/early_mp3.h"
#include "audio/media_player.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace larkspur {
namespace {

bool SameFile(const QString& a, const QString& b) {
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// Two names of one place, whether or not a file is there yet.
bool SamePath(const QString& a, const QString& b) {
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

void Tell(const QString& text) { ShowMessageBox(ApplicationTitle(), text, BoxIcon::Warning); }

}  // namespace

Finisher::Finisher(TMediaPlayer& device, const RecorderSettings& settings, SaveNameDialog& dialog,
                   Mp3Converter& converter, QWidget* owner, QString dir)
    : device_(device), settings_(settings), dialog_(dialog), converter_(converter), owner_(owner),
      dir_(std::move(dir)) {}

void Finisher::FinishRecording(const QString& tempPath, std::shared_ptr<EarlyMp3> early) {
    // However the finish ends, an early MP3 that was not put in place is removed.
    const auto discardEarly = qScopeGuard([&early] {
        if (early) early->Discard();
    });
    device_.Stop();
    device_.Save();
    device_.Close();
    // A fault that cut the recording short is told once the recording is finished.
    const auto tellFault = [fault = device_.Fault()] {
        if (!fault) return;
        const auto seconds = static_cast<std::int32_t>(fault->kept.count() / 1000);
        Tell(QStringLiteral("%1. The recording stopped there; its first %2 were kept.")
                 .arg(QString::fromStdString(fault->text), FormatHms(seconds)));
    };

    if (settings_.AskForFileName()) {
        const auto name = dialog_.Ask(dialog_.FilterIndex() == 1 ? QStringLiteral("*.wav") : QStringLiteral("*.mp3"));
        if (!name) {
            QFile::remove(tempPath);
            tellFault();
            return;
        }
        outputPath_ = *name;
    } else {
        outputPath_ = AutomaticOutputName();
    }

    // The name the output got: a ".MP3" name is written as ".mp3".
    const bool produced = Produce(tempPath, early.get());
    QString result = outputPath_;
    if (!produced) {
        result = KeepAsWave(tempPath);
        Tell(QStringLiteral("The recording could not be stored as \"%1\". It was kept as \"%2\".")
                 .arg(outputPath_, result));
    }
    if (settings_.PlayAfterRecording()) TheShell().Execute({owner_, QString(), result});
    if (result != tempPath) QFile::remove(tempPath);
    tellFault();
}

// One reading of the local time. A name already taken (two recordings within one second) gets
// " (1)" rather than replacing the earlier recording.
QString Finisher::AutomaticOutputName() const {
    QString name = AutomaticName(dir_, TheClock().LocalTime());
    if (settings_.SaveToMp3()) name = ChangeFileExt(name, QStringLiteral(".mp3"));
    return FreeName(name);
}

// Moves or converts the temporary file to outputPath_; false when the output was not completed.
bool Finisher::Produce(const QString& tempPath, EarlyMp3* early) {
    // Replacing the temporary file by itself would destroy the only copy.
    if (SameFile(outputPath_, tempPath)) return false;
    if (!IsMp3Name(outputPath_)) {
        QFile::remove(outputPath_);  // a file only: a folder of that name stays and the move fails
        return MoveRecording(tempPath, outputPath_);
    }

    QString mp3 = ChangeFileExt(outputPath_, QStringLiteral(".mp3"));
    // Where case matters, "take.mp3" may be another file than the confirmed "take.MP3".
    if (mp3 != outputPath_ && QFileInfo::exists(mp3)) mp3 = outputPath_;
    // The early MP3 is finished before anything under the output's name is removed, which may be
    // the early MP3 itself.
    const QString earlyPath = early ? QFile::decodeName(early->Path().c_str()) : QString();
    const bool earlyReady = early && !SamePath(mp3, earlyPath) &&
                            !SamePath(outputPath_, earlyPath) &&
                            early->Finish(QFile::encodeName(tempPath).toStdString());
    QFile::remove(outputPath_);
    outputPath_ = mp3;
    converter_.SetMp3Path(mp3);
    if (earlyReady && MoveRecording(earlyPath, mp3)) {
        early->HandedOver();
        return true;
    }
    // The converter may write where the early MP3 was.
    if (early) early->Discard();
    return converter_.Convert(tempPath);
}

// The recording as a wave file beside the intended output, under a free name; where that cannot
// be written, the temporary file stays as it is.
QString Finisher::KeepAsWave(const QString& tempPath) const {
    const QString kept = FreeName(ChangeFileExt(outputPath_, QStringLiteral(".wav")));
    return MoveRecording(tempPath, kept) ? kept : tempPath;
}

}  // namespace larkspur
