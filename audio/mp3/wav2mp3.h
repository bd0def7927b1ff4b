#pragma once
#include <QString>

class QWidget;

namespace larkspur {

// Converts the wave file at wavePath into an MP3 file at mp3Path (constant 192 kbit/s, stereo or
// mono after the input). Failures are shown in boxes captioned "Wav2Mp3 ERROR"; an empty path,
// an unreadable wave file and an MP3 file that cannot be written are passed over in silence.
// While it runs, a modal progress display over `window` keeps the windows painted; the call
// returns when the conversion is over. The wave file is never changed.
//
// Callers may ignore the result. It is true only when the MP3 file was written completely; an MP3
// file whose writing failed is removed.
bool Wav2Mp3(QWidget* window, const QString& wavePath, const QString& mp3Path);

}  // namespace larkspur
