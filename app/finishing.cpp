#include "app/finishing.h"

#include "app/output_name.h"
#include "app/recording_control.h"
#include "audio/media_player.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/shell.h"

#include <QFile>
#include <QFileInfo>

namespace larkspur {
namespace {

bool SameFile(const QString& a, const QString& b) {
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

void Tell(const QString& text) { ShowMessageBox(ApplicationTitle(), text, BoxIcon::Warning); }

}  // namespace

Finisher::Finisher(TMediaPlayer& device, const RecorderSettings& settings, SaveNameDialog& dialog,
                   Mp3Converter& converter, QWidget* owner, QString dir)
    : device_(device), settings_(settings), dialog_(dialog), converter_(converter), owner_(owner),
      dir_(std::move(dir)) {}

void Finisher::FinishRecording(const QString& tempPath) {
    device_.Stop();
    device_.Save();
    device_.Close();
    if (const auto fault = device_.Fault()) {
        const auto seconds = static_cast<std::int32_t>(fault->kept.count() / 1000);
        Tell(QStringLiteral("%1. The recording stopped there; its first %2 were kept.")
                 .arg(QString::fromStdString(fault->text), FormatHms(seconds)));
    }

    if (settings_.AskForFileName()) {
        const auto name = dialog_.Ask(dialog_.FilterIndex() == 1 ? QStringLiteral("*.wav") : QStringLiteral("*.mp3"));
        if (!name) {
            QFile::remove(tempPath);
            return;
        }
        outputPath_ = *name;
    } else {
        outputPath_ = AutomaticOutputName();
    }

    QString result = outputPath_;
    if (!Produce(tempPath)) {
        result = KeepAsWave(tempPath);
        Tell(QStringLiteral("The recording could not be stored as \"%1\". It was kept as \"%2\".")
                 .arg(outputPath_, result));
    }
    if (settings_.PlayAfterRecording()) TheShell().Execute({owner_, QString(), result});
    if (result != tempPath) QFile::remove(tempPath);
}

// One reading of the local time. A name already taken (two recordings within one second) gets
// " (1)" rather than replacing the earlier recording.
QString Finisher::AutomaticOutputName() const {
    QString name = AutomaticName(dir_, TheClock().LocalTime());
    if (settings_.SaveToMp3()) name = ChangeFileExt(name, QStringLiteral(".mp3"));
    return FreeName(name);
}

// Moves or converts the temporary file to outputPath_; false when the output was not completed.
bool Finisher::Produce(const QString& tempPath) {
    // Replacing the temporary file by itself would destroy the only copy.
    if (SameFile(outputPath_, tempPath)) return false;
    QFile::remove(outputPath_);  // a file only: a folder of that name stays and the move fails
    if (!IsMp3Name(outputPath_)) return MoveRecording(tempPath, outputPath_);

    QString mp3 = ChangeFileExt(outputPath_, QStringLiteral(".mp3"));
    // Where case matters, "take.mp3" may be another file than the confirmed "take.MP3".
    if (mp3 != outputPath_ && QFileInfo::exists(mp3)) mp3 = outputPath_;
    outputPath_ = mp3;
    return converter_.Convert(mp3, tempPath);
}

// The recording as a wave file beside the intended output, under a free name; where that cannot
// be written, the temporary file stays as it is.
QString Finisher::KeepAsWave(const QString& tempPath) const {
    const QString kept = FreeName(ChangeFileExt(outputPath_, QStringLiteral(".wav")));
    return MoveRecording(tempPath, kept) ? kept : tempPath;
}

}  // namespace larkspur
