#pragma once
#include <QString>

namespace larkspur {

// An advisory lock (flock) on the temporary recording file, held for as long as a recording
// exists, so that a second instance in the same folder never takes the file of a live recording.
// The kernel drops it when the process ends, also by a crash, so that a leftover can be kept.
class TempFileLock {
public:
    TempFileLock() = default;
    ~TempFileLock() { Release(); }
    TempFileLock(const TempFileLock&) = delete;
    TempFileLock& operator=(const TempFileLock&) = delete;

    enum class Result { Locked, HeldElsewhere, Unavailable };
    // Locks the file now at path, creating it empty where there is none. Holding a lock on a file
    // that has since been moved away, it moves the lock to the new one. HeldElsewhere when another
    // process holds the lock, Unavailable when the file cannot be opened (the lock held before,
    // if any, is kept in both cases).
    Result Acquire(const QString& path);
    void Release();
    bool Held() const { return fd_ >= 0; }
    // The locked file has no name any more (its folder was deleted).
    bool Unnamed() const;

private:
    int fd_ = -1;
};

}  // namespace larkspur
