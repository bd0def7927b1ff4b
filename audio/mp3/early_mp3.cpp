#include "audio/mp3/early_mp3.h"

#include "audio/mp3/mp3_settings.h"
#include "audio/mp3/wav2mp3_input.h"
#include "platform/own_file.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace larkspur {

EarlyMp3::EarlyMp3(std::string path, const WaveFormat& format, std::size_t queueBytes,
                   Mp3EncoderCalls encoder)
    : path_(std::move(path)), format_(format), encoder_(encoder),
      ring_(new std::uint8_t[queueBytes]), capacity_(queueBytes) {
    const int fd = Accepts(format_) ? CreateOwnFile(path_) : -1;
    file_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!file_) {
        if (fd >= 0) ::close(fd);
        // Nothing was created, so nothing may be removed: the name may be something else's.
        owned_ = false;
        abandoned_ = true;
        return;
    }
    worker_ = std::thread([this] { Run(); });
}

EarlyMp3::~EarlyMp3() { Discard(); }

bool EarlyMp3::Accepts(const WaveFormat& format) {
    return wav2mp3::IsSupportedRate(format.sampleRate) &&
           (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16);
}

void EarlyMp3::Samples(std::uint64_t offset, const void* data, std::size_t bytes) {
    if (abandoned_.load(std::memory_order_relaxed) || ending_.load(std::memory_order_relaxed))
        return;
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    // Samples out of order, or more than the queue has room for: the MP3 would not match.
    if (offset != head || bytes > capacity_ - (head - tail_.load(std::memory_order_acquire)))
        return Abandon();
    const auto* in = static_cast<const std::uint8_t*>(data);
    const std::size_t at = head % capacity_;
    const std::size_t first = std::min(bytes, capacity_ - at);
    std::memcpy(&ring_[at], in, first);
    std::memcpy(&ring_[0], in + first, bytes - first);
    head_.store(head + bytes, std::memory_order_release);
    Wake();
}

void EarlyMp3::Wake() {
    wakeups_.fetch_add(1, std::memory_order_release);
    wakeups_.notify_one();
}

void EarlyMp3::Abandon() {
    abandoned_ = true;
    Wake();
}

void EarlyMp3::Run() {
    std::uint32_t values = 0, outputSize = 0;
    const BE_CONFIG config = ConverterConfig(format_.sampleRate, format_.channels);
    if (encoder_.init(&config, &values, &outputSize, &stream_) != BE_ERR_SUCCESSFUL) {
        stream_ = nullptr;
        abandoned_ = true;
    } else {
        chunk_.resize(values);
        output_.resize(outputSize);
    }
    std::uint64_t tail = 0;
    for (;;) {
        // Read before the flags, so that a flag set after this read also changes it and the
        // wait below does not sleep through it.
        const std::uint32_t seen = wakeups_.load(std::memory_order_acquire);
        if (abandoned_) break;
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        if (tail < head) {
            while (tail < head && !abandoned_) {
                const std::size_t at = tail % capacity_;
                const std::size_t n = std::min<std::uint64_t>(head - tail, capacity_ - at);
                if (!Take(&ring_[at], n)) abandoned_ = true;
                tail += n;
            }
            tail_.store(tail, std::memory_order_release);
            continue;
        }
        if (ending_) {
            complete_ = Flush();
            break;
        }
        wakeups_.wait(seen, std::memory_order_acquire);
    }
    if (stream_) encoder_.close(stream_);
    stream_ = nullptr;
    // A given-up MP3 goes at once: on a full disk its room is the wave file's.
    if (!complete_) Remove();
}

bool EarlyMp3::Take(const std::uint8_t* bytes, std::size_t count) {
    const std::size_t room = chunk_.size();
    std::size_t i = 0;
    if (format_.bitsPerSample == 8) {
        while (i < count) {
            const std::size_t n = std::min(count - i, room - filled_);
            for (std::size_t k = 0; k < n; ++k) chunk_[filled_ + k] = wav2mp3::Widen8(bytes[i + k]);
            filled_ += n;
            i += n;
            if (filled_ == room && !EncodeChunk(filled_)) return false;
        }
        return true;
    }
    // 16-bit values in the file's (and the machine's) little-endian order; a value may be split
    // between two blocks.
    if (oddByte_ >= 0 && count > 0) {
        const std::uint8_t pair[2] = {std::uint8_t(oddByte_), bytes[0]};
        std::memcpy(&chunk_[filled_++], pair, 2);
        oddByte_ = -1;
        i = 1;
        if (filled_ == room && !EncodeChunk(filled_)) return false;
    }
    while (count - i >= 2) {
        const std::size_t n = std::min((count - i) / 2, room - filled_);
        std::memcpy(&chunk_[filled_], bytes + i, n * 2);
        filled_ += n;
        i += n * 2;
        if (filled_ == room && !EncodeChunk(filled_)) return false;
    }
    if (i < count) oddByte_ = bytes[i];
    return true;
}

bool EarlyMp3::EncodeChunk(std::size_t values) {
    std::uint32_t bytes = 0;
    if (encoder_.encode(stream_, std::uint32_t(values), chunk_.data(), output_.data(), &bytes) !=
        BE_ERR_SUCCESSFUL)
        return false;
    values_ += values;
    filled_ = 0;
    return Write(bytes);
}

bool EarlyMp3::Write(std::uint32_t bytes) {
    return bytes == 0 || std::fwrite(output_.data(), 1, bytes, file_) == bytes;
}

// The converter's last steps: the short last chunk, the encoder's flush, the file closed.
bool EarlyMp3::Flush() {
    if (filled_ > 0 && !EncodeChunk(filled_)) return false;
    std::uint32_t bytes = 0;
    if (encoder_.deinit(stream_, output_.data(), &bytes) != BE_ERR_SUCCESSFUL || !Write(bytes))
        return false;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
}

void EarlyMp3::Remove() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (owned_ && !removed_) std::remove(path_.c_str());
    removed_ = true;
}

bool EarlyMp3::Finish(const std::string& wavePath) {
    if (!worker_.joinable()) return false;
    ending_ = true;
    Wake();
    worker_.join();
    if (!complete_) return false;
    // The converter's own reading of the finished file: the same format and every value of it.
    wav2mp3::WaveFileSource wave(wavePath);
    const wav2mp3::WaveLayout layout = wav2mp3::ReadWaveLayout(wave);
    const std::uint64_t width = layout.bitsPerSample == 8 ? 1 : 2;
    const bool same = wave.IsOpen() && layout.problem == wav2mp3::WaveProblem::None &&
                      layout.channels == format_.channels &&
                      layout.samplesPerSecond == format_.sampleRate &&
                      (layout.bitsPerSample == 8) == (format_.bitsPerSample == 8) &&
                      layout.dataSize / width == values_;
    if (!same) {
        complete_ = false;
        Remove();
    }
    return same;
}

void EarlyMp3::Discard() {
    if (worker_.joinable()) {
        Abandon();
        worker_.join();
    }
    if (owned_) Remove();
}

}  // namespace larkspur
