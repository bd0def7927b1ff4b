#include "audio/wave_file.h"

#include "audio/capture_device.h"
#include "platform/own_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace larkspur {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}
std::uint16_t Get16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// Reads exactly n bytes at offset; false at end of file or on error.
bool ReadAt(int fd, void* buffer, std::size_t n, off_t offset) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t got = pread(fd, out, n, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += got;
        n -= got;
    }
    return true;
}

// Writes all n bytes at offset; returns the bytes written before an error (n on success).
std::size_t WriteAt(int fd, const void* buffer, std::size_t n, off_t offset) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t put = pwrite(fd, in + done, n - done, offset + done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            break;
        }
        done += put;
    }
    return done;
}

std::uint32_t WriteErrorCode(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG ? kCaptureDiskFull
                                                                : kCaptureWriteFailed;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now; false when the last writes failed.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

// Copies the first length bytes of one file into another.
bool CopyRange(int from, int to, off_t length) {
    off_t in = 0, out = 0;
    while (in < length) {
        const ssize_t n = copy_file_range(from, &in, to, &out, length - in, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EINVAL)) return false;
        // A kernel or file system that cannot copy ranges: plain reads and writes.
        std::uint8_t buffer[1 << 16];
        while (in < length) {
            const std::size_t want = std::min<off_t>(sizeof buffer, length - in);
            if (!ReadAt(from, buffer, want, in) || WriteAt(to, buffer, want, out) != want)
                return false;
            in += want;
            out += want;
        }
    }
    return true;
}

}  // namespace

bool IsRecordableFormat(const WaveFormat& format) {
    static constexpr std::uint32_t rates[] = {44100, 32000, 24000, 22050, 16000, 48000};
    return (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 8 || format.bitsPerSample == 16) &&
           std::find(std::begin(rates), std::end(rates), format.sampleRate) != std::end(rates);
}

std::array<std::uint8_t, kWaveHeaderSize> WaveHeader(const WaveFormat& format,
                                                     std::uint32_t dataBytes) {
    std::array<std::uint8_t, kWaveHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    // An odd data chunk is followed by a pad byte, which the RIFF size counts.
    Put32(&h[4], 36 + dataBytes + (dataBytes & 1));
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put32(&h[16], 16);
    Put16(&h[20], 1);
    Put16(&h[22], format.channels);
    Put32(&h[24], format.sampleRate);
    Put32(&h[28], format.BytesPerSecond());
    Put16(&h[32], format.BlockAlign());
    Put16(&h[34], format.bitsPerSample);
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], dataBytes);
    return h;
}

std::array<std::uint8_t, kRf64DataOffset> Rf64Header(const WaveFormat& format, std::uint64_t dataBytes) {
    std::array<std::uint8_t, kRf64DataOffset> h{};
    const auto plain = WaveHeader(format, 0);
    const auto put64 = [&](std::size_t at, std::uint64_t v) {
        Put32(&h[at], std::uint32_t(v));
        Put32(&h[at + 4], std::uint32_t(v >> 32));
    };
    std::memcpy(&h[0], "RF64", 4);
    Put32(&h[4], 0xFFFFFFFF);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "ds64", 4);
    Put32(&h[16], 28);
    put64(20, kRf64DataOffset + dataBytes + (dataBytes & 1) - 8);  // the RIFF size
    put64(28, dataBytes);
    put64(36, dataBytes / format.BlockAlign());  // the sample count; the table stays empty
    std::memcpy(&h[48], &plain[12], 24);          // "fmt " as in the plain header
    std::memcpy(&h[72], "JUNK", 4);
    Put32(&h[76], kRf64DataOffset - 88);
    std::memcpy(&h[kRf64DataOffset - 8], "data", 4);
    Put32(&h[kRf64DataOffset - 4], 0xFFFFFFFF);
    return h;
}

std::uint32_t ReadWaveFormat(const std::string& path, WaveFormat& format) {
    Fd fd(path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return kCaptureCannotReadFile;
    std::uint8_t riff[12];
    if (!ReadAt(fd.get(), riff, sizeof riff, 0)) return kCaptureNotWaveFile;
    if ((std::memcmp(riff, "RIFF", 4) != 0 && std::memcmp(riff, "RF64", 4) != 0) || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return kCaptureNotWaveFile;
    off_t offset = 12;
    for (;;) {
        std::uint8_t chunk[8];
        if (!ReadAt(fd.get(), chunk, sizeof chunk, offset)) return kCaptureNotWaveFile;
        const std::uint32_t size = Get32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::uint8_t fmt[16];
            if (size < sizeof fmt || !ReadAt(fd.get(), fmt, sizeof fmt, offset + 8))
                return kCaptureNotWaveFile;
            format.channels = Get16(fmt + 2);
            format.sampleRate = Get32(fmt + 4);
            format.bitsPerSample = Get16(fmt + 14);
            return Get16(fmt) == 1 && IsRecordableFormat(format) ? kCaptureOk
                                                                : kCaptureUnsupportedFormat;
        }
        if (std::memcmp(chunk, "data", 4) == 0) return kCaptureNotWaveFile;
        offset += 8 + off_t(size) + (size & 1);
    }
}

GrowingWaveFile::~GrowingWaveFile() { Close(); }

std::uint32_t GrowingWaveFile::OpenElement(const std::string& path, const WaveFormat& format) {
    Close();
    // The element is the recorder's own file: never a link, nor a file with another name.
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat st {};
    if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
        close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0) return kCaptureCannotWriteFile;
    path_ = path;
    format_ = format;
    return kCaptureOk;
}

std::uint32_t GrowingWaveFile::OpenAnonymous(const WaveFormat& format) {
    Close();
    const std::string dir = std::filesystem::temp_directory_path().string();
    fd_ = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {  // a file system without O_TMPFILE: a named file, unlinked at once
        std::string name = dir + "/larkspur-XXXXXX";
        fd_ = mkostemp(name.data(), O_CLOEXEC);
        if (fd_ >= 0) unlink(name.c_str());
    }
    if (fd_ < 0) return kCaptureCannotWriteFile;
    path_.clear();
    format_ = format;
    return kCaptureOk;
}

std::uint32_t GrowingWaveFile::Begin() {
    dataBytes_ = 0;
    writeError_ = 0;
    dataOffset_ = kWaveHeaderSize;
    const auto header = WaveHeader(format_, 0);
    if (WriteAt(fd_, header.data(), header.size(), 0) != header.size() ||
        ftruncate(fd_, kWaveHeaderSize) != 0)
        return writeError_ = WriteErrorCode(errno);
    begun_ = true;
    return kCaptureOk;
}

std::uint32_t GrowingWaveFile::Write(const void* data, std::size_t bytes) {
    if (writeError_ != 0) return writeError_;
    std::uint32_t code = kCaptureOk;
    if (dataOffset_ == kWaveHeaderSize && dataBytes_ + bytes > kMaxWaveDataBytes && BecomeRf64() != kCaptureOk) {
        bytes = kMaxWaveDataBytes - dataBytes_;
        code = kCaptureFileTooLarge;
    }
    const off_t at = off_t(dataOffset_ + dataBytes_);
    const std::size_t written = data ? WriteAt(fd_, data, bytes, at) : ftruncate(fd_, at + off_t(bytes)) == 0 ? bytes : 0;
    if (written != bytes) code = WriteErrorCode(errno);
    const std::uint64_t before = dataBytes_;
    if (code == kCaptureOk) {
        dataBytes_ += bytes;
        if (tap_ && data) tap_->Samples(before, data, bytes);
        return kCaptureOk;
    }
    // Keep whole sample frames only and leave a file whose header tells its true length.
    dataBytes_ += written;
    dataBytes_ -= dataBytes_ % format_.BlockAlign();
    if (tap_ && data && dataBytes_ > before) tap_->Samples(before, data, dataBytes_ - before);
    writeError_ = code;
    // Should the cut fail too, the header still tells the length.
    [[maybe_unused]] const int cut = ftruncate(fd_, off_t(dataOffset_ + dataBytes_));
    SyncHeader();
    return code;
}

std::uint32_t GrowingWaveFile::Append(const void* data, std::size_t bytes) {
    return Write(data, bytes);
}

std::uint32_t GrowingWaveFile::AppendSilence(std::size_t bytes) {
    // Zeros that nothing else reads go in as a hole, at any length.
    if (!tap_ && format_.SilenceByte() == 0 && bytes >= 65536) return Write(nullptr, bytes);
    std::uint8_t silence[4096];
    std::memset(silence, format_.SilenceByte(), sizeof silence);
    while (bytes > 0) {
        const std::size_t n = std::min(bytes, sizeof silence);
        if (const std::uint32_t code = Write(silence, n)) return code;
        bytes -= n;
    }
    return kCaptureOk;
}

std::uint32_t GrowingWaveFile::SyncHeader() {
    const auto write = [&](const auto& header) {
        return WriteAt(fd_, header.data(), header.size(), 0) == header.size() ? kCaptureOk : WriteErrorCode(errno);
    };
    return dataOffset_ == kWaveHeaderSize ? write(WaveHeader(format_, std::uint32_t(dataBytes_)))
                                          : write(Rf64Header(format_, dataBytes_));
}

// The header grows by kRf64Room at the front: the file system inserts the room where it can
// (ext4, XFS), else every byte moves up, the last first.
std::uint32_t GrowingWaveFile::BecomeRf64() {
    const off_t length = off_t(kWaveHeaderSize + dataBytes_);
    if (fallocate(fd_, FALLOC_FL_INSERT_RANGE, 0, kRf64Room) != 0) {
        if (errno != EOPNOTSUPP && errno != EINVAL) return WriteErrorCode(errno);
        std::vector<std::uint8_t> buffer(1 << 20);
        for (off_t end = length; end > 0;) {
            const off_t start = std::max<off_t>(0, end - off_t(buffer.size()));
            const std::size_t n = std::size_t(end - start);
            if (!ReadAt(fd_, buffer.data(), n, start) || WriteAt(fd_, buffer.data(), n, start + off_t(kRf64Room)) != n)
                return WriteErrorCode(errno);
            end = start;
        }
    }
    dataOffset_ = kRf64DataOffset;
    return SyncHeader();
}

void GrowingWaveFile::KeepNamed() {
    struct stat st {};
    if (path_.empty() || fd_ < 0 || fstat(fd_, &st) != 0 || st.st_nlink > 0) return;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
    const int fd = CreateOwnFile(path_, true);
    if (fd < 0) return;
    const off_t length = off_t(dataOffset_ + dataBytes_);
    // The same descriptor number then writes into the new file.
    if (!CopyRange(fd_, fd, length) || dup3(fd, fd_, O_CLOEXEC) < 0) {
        close(fd);
        unlink(path_.c_str());
        return;
    }
    close(fd);
}

std::uint32_t GrowingWaveFile::SaveTo(const std::string& path) {
    if (fd_ < 0) return kCaptureNotOpen;
    if (!begun_) {
        if (const std::uint32_t code = Begin()) return code;
    }
    // The pad byte of an odd data chunk; a later append overwrites it.
    const std::uint8_t pad = 0;
    if ((dataBytes_ & 1) && WriteAt(fd_, &pad, 1, off_t(dataOffset_ + dataBytes_)) != 1)
        return kCaptureCannotSave;
    const off_t length = off_t(dataOffset_ + dataBytes_ + (dataBytes_ & 1));
    std::error_code error;
    if (!path_.empty() && std::filesystem::equivalent(path, path_, error)) {
        if (SyncHeader() != 0 || ftruncate(fd_, length) != 0) return kCaptureCannotSave;
        return kCaptureOk;
    }
    if (SyncHeader() != 0) return kCaptureCannotSave;
    Fd out(CreateOwnFile(path));
    if (out.get() < 0 || !CopyRange(fd_, out.get(), length)) return kCaptureCannotSave;
    return out.Close() ? kCaptureOk : kCaptureCannotSave;
}

void GrowingWaveFile::Close() {
    tap_.reset();
    if (fd_ < 0) return;
    if (begun_) {
        const std::uint8_t pad = 0;
        if (dataBytes_ & 1) WriteAt(fd_, &pad, 1, off_t(dataOffset_ + dataBytes_));
        SyncHeader();
    }
    close(fd_);
    fd_ = -1;
    begun_ = false;
    dataBytes_ = 0;
    dataOffset_ = kWaveHeaderSize;
    writeError_ = 0;
    path_.clear();
}

}  // namespace larkspur
