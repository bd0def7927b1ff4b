#pragma once
#include "audio/mp3/lame_stream.h"
#include "audio/sample_tap.h"
#include "audio/wave_file.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// The MP3 of a recording, encoded while it is recorded: the samples the wave file keeps are also
// queued for a worker thread that feeds them, in the converter's chunks and with its settings,
// through the encoder stream interface into a file of its own. At the finish the file is what
// Wav2Mp3 would write for the finished wave file, byte for byte, and is ready at once.
//
// The capture thread never waits: when the queue is full (the encoder fell behind) or anything
// fails, the early MP3 is given up and removed, and the finish converts the wave file instead.
namespace larkspur {

// The encoder stream interface; tests hand in a slow or failing one.
struct Mp3EncoderCalls {
    decltype(&beInitStream) init = &beInitStream;
    decltype(&beEncodeChunk) encode = &beEncodeChunk;
    decltype(&beDeinitStream) deinit = &beDeinitStream;
    decltype(&beCloseStream) close = &beCloseStream;
};

class EarlyMp3 final : public SampleTap {
public:
    // About 24 s of 44100 Hz 16-bit stereo: far more than the encoder lags on a busy machine.
    static constexpr std::size_t kQueueBytes = 4u << 20;

    // Creates the file at path and starts the worker. format: the recording's, one the converter
    // takes (see Accepts).
    EarlyMp3(std::string path, const WaveFormat& format, std::size_t queueBytes = kQueueBytes,
             Mp3EncoderCalls encoder = {});
    // Gives the MP3 up unless Finish completed it and it was handed over.
    ~EarlyMp3() override;
    EarlyMp3(const EarlyMp3&) = delete;
    EarlyMp3& operator=(const EarlyMp3&) = delete;

    // Whether the converter takes recordings of this format (and an early MP3 can stand in).
    static bool Accepts(const WaveFormat& format);

    void Samples(std::uint64_t offset, const void* data, std::size_t bytes) override;

    // Called once no more samples come (the device closed): encodes what is queued, flushes the
    // encoder and closes the file. True when the file is complete and holds exactly what the
    // converter would encode from the finished wave file at wavePath; otherwise it is removed.
    bool Finish(const std::string& wavePath);
    // The caller moved the finished file away: it is no longer this object's to remove.
    void HandedOver() { owned_ = false; }
    // Stops the worker and removes the file (once; later calls do nothing).
    void Discard();

    const std::string& Path() const { return path_; }
    // Bytes queued and not encoded yet.
    std::size_t Queued() const { return head_.load() - tail_.load(); }
    // Given up: the queue overflowed, a write or the encoder failed, or samples came out of order.
    bool Abandoned() const { return abandoned_.load(); }

private:
    void Run();
    // Takes queued bytes into chunks of the encoder's size; false on a failure.
    bool Take(const std::uint8_t* bytes, std::size_t count);
    bool EncodeChunk(std::size_t values);
    bool Write(std::uint32_t bytes);
    bool Flush();
    void Remove();
    void Abandon();
    void Wake();

    const std::string path_;
    const WaveFormat format_;
    const Mp3EncoderCalls encoder_;
    std::FILE* file_ = nullptr;
    bool owned_ = true;

    // A single-producer, single-consumer ring: the capture thread moves head_, the worker tail_.
    // Left uninitialised, so that only the part ever used takes memory.
    std::unique_ptr<std::uint8_t[]> ring_;
    const std::size_t capacity_;
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> tail_{0};
    std::atomic<std::uint32_t> wakeups_{0};  // the worker sleeps on this
    std::atomic<bool> ending_{false};
    std::atomic<bool> abandoned_{false};

    // The worker's own.
    HBE_STREAM stream_ = nullptr;
    std::vector<std::int16_t> chunk_;  // one encoder call's values
    std::size_t filled_ = 0;
    std::vector<std::uint8_t> output_;
    int oddByte_ = -1;                 // the first byte of a 16-bit value split between blocks
    std::uint64_t values_ = 0;         // values encoded
    bool complete_ = false;
    bool removed_ = false;

    std::thread worker_;
};

}  // namespace larkspur
