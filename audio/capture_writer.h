#pragma once
#include "audio/wave_file.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Writes a recording's samples into its file on a thread of its own, so that neither the sound
// server's thread nor a Stop holding the capture's lock ever waits on a slow disk. The header is
// brought up to date every half second of samples, so that a crash loses at most that much, and a
// file whose folder was deleted is brought back then.
//
// Threads: Append and AppendSilence from any one thread at a time (the capture's, under its lock);
// Drain and Restart from the thread that owns the device, which touches the file itself only
// after a Drain.
namespace larkspur {

class CaptureWriter {
public:
    explicit CaptureWriter(GrowingWaveFile& file);
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // A new recording in the file: nothing written, no fault. The writer must be drained.
    void Restart(std::uint32_t bytesPerSecond);

    // Queued in order; dropped once a write has failed.
    void Append(const void* data, std::size_t bytes);
    void AppendSilence(std::size_t bytes);

    // The data size once everything queued is written.
    std::uint64_t Bytes() const { return queued_; }
    // What is in the file now; any thread.
    std::uint64_t Written() const { return written_; }
    // The write error that ended the writing; 0 = none. Any thread.
    std::uint32_t Fault() const { return fault_; }

    // Returns once everything queued is written and the header tells it.
    void Drain();

private:
    struct Chunk {
        std::vector<std::uint8_t> data;  // empty: silence
        std::size_t silence = 0;
    };
    void Push(Chunk chunk, std::size_t bytes);
    void Run();
    void Sync();

    GrowingWaveFile& file_;
    std::uint32_t bytesPerSecond_ = 1;
    std::uint64_t queued_ = 0;          // the capture's thread
    std::uint64_t synced_ = 0;          // the writer's thread (or the owner's, drained)
    std::atomic<std::uint64_t> written_{0};
    std::atomic<std::uint32_t> fault_{0};

    std::mutex lock_;
    std::condition_variable wake_, idle_;
    std::deque<Chunk> queue_;  // under lock_
    bool busy_ = false;        // under lock_: a chunk is being written
    bool quit_ = false;        // under lock_
    std::thread thread_;
};

}  // namespace larkspur
