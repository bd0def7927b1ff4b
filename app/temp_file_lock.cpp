#include "app/temp_file_lock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

TempFileLock::Result TempFileLock::Acquire(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // A file replaced between the open and the lock is locked anew.
    for (int attempt = 0; attempt < 10; ++attempt) {
        struct stat now {}, held {};
        if (fd_ >= 0 && ::stat(name.constData(), &now) == 0 && ::fstat(fd_, &held) == 0 &&
            SameFile(now, held))
            return Result::Locked;
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) return Result::Unavailable;
        int locked;
        while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
        if (locked != 0) {
            const int error = errno;
            ::close(fd);
            return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) == 0 && ::stat(name.constData(), &now) == 0 && SameFile(opened, now)) {
            Release();
            fd_ = fd;
            return Result::Locked;
        }
        ::close(fd);
    }
    return Result::Unavailable;
}

bool TempFileLock::Unnamed() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
}

void TempFileLock::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

}  // namespace larkspur
