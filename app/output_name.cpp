#include "app/output_name.h"

#include <QFile>
#include <QFileInfo>
#include <filesystem>

namespace larkspur {
namespace {

// Position of the extension's "." in path, or -1. A "." before the last "/" is part of a folder.
qsizetype ExtDot(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > path.lastIndexOf(QLatin1Char('/')) ? dot : -1;
}

bool Taken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

std::filesystem::path NativePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

QString AutomaticName(const QString& dir, const SystemTime& t) {
    return dir + QStringLiteral("%1_%2_%3_%4_%5_%6.wav")
                     .arg(t.year).arg(t.month).arg(t.day).arg(t.hour).arg(t.minute).arg(t.second);
}

QString FileExt(const QString& path) {
    const qsizetype dot = ExtDot(path);
    return dot < 0 ? QString() : path.mid(dot);
}

QString ChangeFileExt(const QString& path, const QString& ext) {
    const qsizetype dot = ExtDot(path);
    return (dot < 0 ? path : path.left(dot)) + ext;
}

bool IsMp3Name(const QString& path) {
    const QString ext = FileExt(path);
    return ext == QLatin1String(".mp3") || ext == QLatin1String(".MP3");
}

QString FreeName(const QString& path) {
    if (!Taken(path)) return path;
    const QString ext = FileExt(path);
    const QString stem = path.left(path.size() - ext.size());
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(ext);
        if (!Taken(candidate)) return candidate;
    }
}

bool MoveRecording(const QString& from, const QString& to) {
    namespace fs = std::filesystem;
    const fs::path src = NativePath(from);
    const fs::path dst = NativePath(to);
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(src, ec);
    if (ec) return false;
    fs::rename(src, dst, ec);
    if (ec == std::errc::cross_device_link) {
        // Another file system: copy, then delete the original.
        ec.clear();
        if (fs::symlink_status(dst, ec).type() != fs::file_type::not_found) return false;
        if (!fs::copy_file(src, dst, ec) || fs::file_size(dst, ec) != size || ec) {
            std::error_code ignored;
            fs::remove(dst, ignored);
            return false;
        }
        fs::remove(src, ec);
        return true;
    }
    return !ec && fs::file_size(dst, ec) == size && !ec;
}

std::optional<QString> TypeChangedFileName(const QString& text, int filterIndex) {
    const qsizetype dot = ExtDot(text);
    if (dot < 0 || (filterIndex != 1 && filterIndex != 2)) return std::nullopt;
    return text.left(dot + 1) + (filterIndex == 1 ? QLatin1String("wav") : QLatin1String("mp3"));
}

}  // namespace larkspur
