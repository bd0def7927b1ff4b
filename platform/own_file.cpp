#include "platform/own_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur {

int CreateOwnFile(const std::string& path, bool readWrite) {
    const int flags = (readWrite ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // Whatever takes the name between the removal and the creation makes the creation fail.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(path.c_str(), flags, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) break;
        if (::unlink(path.c_str()) != 0) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool IsOwnRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

}  // namespace larkspur
