#pragma once
#include "audio/sample_tap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// PCM wave files as the recording device reads and writes them: the format from an element's
// header, and a file that takes samples as they arrive and stays a valid wave file throughout.
namespace larkspur {

struct WaveFormat {
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 11025;
    std::uint16_t bitsPerSample = 8;

    std::uint16_t BlockAlign() const { return channels * (bitsPerSample / 8); }
    std::uint32_t BytesPerSecond() const { return sampleRate * BlockAlign(); }
    // The byte value of silence: 0x80 for unsigned 8-bit samples, 0 for 16-bit.
    std::uint8_t SilenceByte() const { return bitsPerSample == 8 ? 0x80 : 0x00; }
    bool operator==(const WaveFormat&) const = default;
};

// The format of a wave-audio device opened without a file.
inline constexpr WaveFormat kDefaultWaveFormat{1, 11025, 8};

inline constexpr std::size_t kWaveHeaderSize = 44;
// The largest data chunk a 44-byte-header wave file can describe, pad byte included: an odd
// chunk's pad byte counts in the 32-bit RIFF size.
inline constexpr std::uint64_t kMaxWaveDataBytes = (0xFFFFFFFFull - (kWaveHeaderSize - 8)) & ~1ull;

// PCM, 1 or 2 channels, 8 or 16 bits, one of 16000, 22050, 24000, 32000, 44100, 48000 Hz.
bool IsRecordableFormat(const WaveFormat& format);

// Past kMaxWaveDataBytes a recording becomes an RF64 file (EBU Tech 3306): its header grows by
// kRf64Room at the front, to hold the "ds64" chunk with the 64-bit sizes, and its samples then
// begin at kRf64DataOffset. Below that it stays the plain 44-byte-header wave file.
inline constexpr std::size_t kRf64Room = 4096;  // a block of every common file system
inline constexpr std::size_t kRf64DataOffset = kWaveHeaderSize + kRf64Room;

// The 44-byte header of a PCM wave file holding dataBytes of samples.
std::array<std::uint8_t, kWaveHeaderSize> WaveHeader(const WaveFormat& format,
                                                     std::uint32_t dataBytes);

// Reads the "fmt " chunk of a wave file. Returns 0, kCaptureCannotReadFile,
// kCaptureNotWaveFile or kCaptureUnsupportedFormat (see capture_device.h).
std::uint32_t ReadWaveFormat(const std::string& path, WaveFormat& format);

// The kRf64DataOffset bytes before the samples of an RF64 file holding dataBytes of samples.
std::array<std::uint8_t, kRf64DataOffset> Rf64Header(const WaveFormat& format, std::uint64_t dataBytes);

// A wave file that grows as samples arrive. The header is rewritten when the file is begun and
// its sizes brought up to date by SyncHeader, so the file is valid at any moment. Not
// thread-safe. Methods return 0 or a capture error code; after a write error the file stays as
// it was last synced and further appends fail with the same code.
class GrowingWaveFile {
public:
    GrowingWaveFile() = default;
    ~GrowingWaveFile();
    GrowingWaveFile(const GrowingWaveFile&) = delete;
    GrowingWaveFile& operator=(const GrowingWaveFile&) = delete;

    // Opens an existing element for writing; nothing is changed until Begin.
    std::uint32_t OpenElement(const std::string& path, const WaveFormat& format);
    // Opens an anonymous file in the temporary directory, gone when closed.
    std::uint32_t OpenAnonymous(const WaveFormat& format);
    // Replaces the file's content with an empty recording (first Start after the open).
    std::uint32_t Begin();
    bool Begun() const { return begun_; }

    // Hands every sample kept from now on to tap as well, until the file is closed.
    void SetTap(std::shared_ptr<SampleTap> tap) { tap_ = std::move(tap); }

    std::uint32_t Append(const void* data, std::size_t bytes);
    std::uint32_t AppendSilence(std::size_t bytes);
    // Writes the current sizes into the header.
    std::uint32_t SyncHeader();
    // An element whose name went (its folder deleted) is written out anew under its path, folder
    // and all, and the recording carries on in the new file. Tried again at the next call while
    // that fails.
    void KeepNamed();
    // Writes the recording to path as a wave file: in place when path is this file, else a copy.
    std::uint32_t SaveTo(const std::string& path);
    void Close();

    const WaveFormat& Format() const { return format_; }
    std::uint64_t DataBytes() const { return dataBytes_; }
    std::uint32_t WriteError() const { return writeError_; }
    bool IsOpen() const { return fd_ >= 0; }

private:
    // Without data, a hole: long silence of 16-bit samples takes no room on disk.
    std::uint32_t Write(const void* data, std::size_t bytes);
    std::uint32_t BecomeRf64();

    int fd_ = -1;
    std::uint64_t dataOffset_ = kWaveHeaderSize;  // kRf64DataOffset once it is an RF64 file
    std::string path_;  // empty for an anonymous file
    WaveFormat format_;
    bool begun_ = false;
    std::uint64_t dataBytes_ = 0;
    std::uint32_t writeError_ = 0;
    std::shared_ptr<SampleTap> tap_;
};

}  // namespace larkspur
