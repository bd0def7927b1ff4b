#pragma once
#include "platform/clock.h"

#include <QString>
#include <optional>

// Names and moves of finished recordings.
namespace larkspur {

// dir (ending in "/") + year_month_day_hour_minute_second + ".wav", numbers without leading zeros.
QString AutomaticName(const QString& dir, const SystemTime& t);

// The extension of a path: its file name from the last "." on, empty when there is none.
QString FileExt(const QString& path);
// Replaces the extension of path by ext (which starts with "."), or appends ext when there is none.
QString ChangeFileExt(const QString& path, const QString& ext);

// A name is finished as MP3 when its extension is exactly ".mp3" or ".MP3".
bool IsMp3Name(const QString& path);

// path itself when nothing is there, else the first free of "name (1).ext", "name (2).ext"...
QString FreeName(const QString& path);

// Moves a recording file; where from and to lie on different file systems it copies and then
// deletes the original. True only when the file arrived whole; on failure from stays as it was.
bool MoveRecording(const QString& from, const QString& to);

// The Save dialog's file-name text after the user picked file type filterIndex (1 = WAV, 2 = MP3):
// everything after the last "." of the file name becomes "wav" or "mp3". Nothing when the name
// has no "." (or the index is neither).
std::optional<QString> TypeChangedFileName(const QString& text, int filterIndex);

}  // namespace larkspur
