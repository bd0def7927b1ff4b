#pragma once
// The fuzzer's input as a file on disk, for readers that take a path: one file in /dev/shm (a
// memory file system, so that writes and fsyncs cost little), rewritten for every input.
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

class FuzzFile {
public:
    explicit FuzzFile(const char* name) {
        char dir[] = "/dev/shm/larkspur-fuzz-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        dir_ = dir;
        path_ = dir_ + "/" + name;
    }
    const std::string& Path() const { return path_; }
    // Replaces the file with these bytes (a new file each time: a writer may have renamed over it).
    void Write(const std::uint8_t* data, std::size_t size) const {
        const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
        close(fd);
    }

private:
    std::string dir_;
    std::string path_;
};
