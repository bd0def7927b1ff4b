#pragma once
#include "app/recorder_ports.h"

#include <QString>
#include <memory>

class QWidget;

namespace larkspur {

class EarlyMp3;
class TMediaPlayer;

// Turns the temporary recording into its output file: the device saves it, it gets its name
// (automatically or from the Save dialog), and it is moved or converted to MP3, then optionally
// played. A recording is never lost to a failed move or conversion: it is kept as a wave file
// next to the intended name, or left where it is, and the user is told where.
class Finisher {
public:
    // owner: the window the player is started for; dir: home of automatic names, ending in "/".
    Finisher(TMediaPlayer& device, const RecorderSettings& settings, SaveNameDialog& dialog,
             Mp3Converter& converter, QWidget* owner, QString dir);

    // early: the MP3 encoded while recording, where one was; it takes the converter's place when
    // it is complete, and is removed otherwise.
    void FinishRecording(const QString& tempPath, std::shared_ptr<EarlyMp3> early = nullptr);

    // The last output file's path (after a conversion, the MP3's); empty before the first.
    const QString& OutputPath() const { return outputPath_; }

private:
    QString AutomaticOutputName() const;
    bool Produce(const QString& tempPath, EarlyMp3* early);
    QString KeepAsWave(const QString& tempPath) const;

    TMediaPlayer& device_;
    const RecorderSettings& settings_;
    SaveNameDialog& dialog_;
    Mp3Converter& converter_;
    QWidget* owner_;
    const QString dir_;
    QString outputPath_;
};

}  // namespace larkspur
