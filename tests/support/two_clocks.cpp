#include "tests/support/two_clocks.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur::test {
namespace {

constexpr int kRate = 44100;
constexpr double kGap = 0.05;  // seconds of each mark
constexpr double kAmplitude = 0.3;  // three mixed do not clip
using Clock = std::chrono::steady_clock;

// The marked tone, sample by sample of the source's own count; `speed` frames of it make one
// frame of wall time, so that the marks fall every markEvery wall seconds.
class ToneWriter {
public:
    ToneWriter(const MarkedTone& tone, double speed) : tone_(tone), speed_(speed) {}
    // The next frames, interleaved stereo.
    void Fill(std::vector<std::int16_t>& out, std::size_t frames) {
        out.resize(frames * 2);
        const double period = tone_.markEvery * kRate * speed_;
        for (std::size_t i = 0; i < frames; ++i, ++n_) {
            const bool gap = std::fmod(double(n_), period) < kGap * kRate * speed_;
            const double v = gap ? 0 : kAmplitude * std::sin(2 * std::numbers::pi * tone_.frequency * double(n_) / kRate);
            out[2 * i] = out[2 * i + 1] = std::int16_t(std::lround(v * 32767));
        }
    }

private:
    MarkedTone tone_;
    double speed_;
    std::uint64_t n_ = 0;
};

// A write that would wait is tried again only where `patient`.
bool WriteAll(int fd, const std::vector<std::int16_t>& samples, bool patient) {
    const auto* p = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size() * sizeof(std::int16_t);
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!patient) return false;
            continue;
        }
        if (n <= 0) return false;
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

// A pipe's path in a folder of its own; made here where `make`, else by whom reads it.
std::string TempFifo(const std::string& name, bool make) {
    char dir[] = "/tmp/larkspur-pipe-XXXXXX";
    if (!mkdtemp(dir)) return {};
    const std::string fifo = std::string(dir) + "/" + name + ".fifo";
    return !make || mkfifo(fifo.c_str(), 0600) == 0 ? fifo : std::string{};
}

void RemoveFifo(const std::string& fifo) {
    if (fifo.empty()) return;
    ::unlink(fifo.c_str());
    ::rmdir(fifo.substr(0, fifo.rfind('/')).c_str());
}

}  // namespace

PacedSource::PacedSource(const std::string& name, double speed, const MarkedTone& tone)
    : name_(name), fifo_(TempFifo(name, false)), speed_(speed), tone_(tone) {
    // A write to a pipe whose source was unloaded fails instead of ending the test.
    std::signal(SIGPIPE, SIG_IGN);
    if (fifo_.empty()) return;
    Load();
    writer_ = std::thread([this] { Write(); });
}

PacedSource::~PacedSource() {
    quit_ = true;
    if (writer_.joinable()) writer_.join();
    Unload();
    RemoveFifo(fifo_);
}

void PacedSource::Load() {
    const auto r = RunCommand({"pactl", "load-module", "module-pipe-source", "source_name=" + name_,
                               "file=" + fifo_, "format=s16le", "rate=44100", "channels=2",
                               "source_properties=device.description=" + name_});
    module_ = r.status == 0 ? std::atoi(r.output.c_str()) : 0;
    // The module makes the pipe and holds it open for reading: this open does not wait. The
    // writes never wait either: what a source that does not read (suspended, going) is given is
    // lost, as a device's samples are, and the writer can always be stopped.
    if (module_ > 0) fd_ = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
}

void PacedSource::Unload() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
    if (module_ > 0) RunCommand({"pactl", "unload-module", std::to_string(module_)});
    module_ = 0;
}

void PacedSource::Write() {
    ToneWriter tone(tone_, speed_);
    std::vector<std::int16_t> samples;
    const auto start = Clock::now();
    std::uint64_t written = 0;
    while (!quit_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = std::uint64_t(elapsed * kRate * speed_);
        if (due <= written) continue;
        tone.Fill(samples, due - written);
        written = due;
        // Unplugged, the time goes on without the samples.
        if (const int fd = fd_; fd >= 0) WriteAll(fd, samples, false);
    }
}

MarkedPlayback::MarkedPlayback(const std::string& sink, const MarkedTone& tone) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::string fifo = TempFifo("playback", true);
    if (sink.empty() || fifo.empty()) {
        RemoveFifo(fifo);
        return;
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    player_ = std::make_unique<Child>(std::vector<std::string>{"pacat", "--playback", "--raw", "-d", sink,
                                                               "--format=s16le", "--rate=44100", "--channels=2",
                                                               "--latency-msec=50", fifo},
                                      std::vector<std::string>{}, -1, null);
    ::close(null);
    // Waits for pacat to open it; the pipe's pace is then the sink's.
    fd_ = player_->Pid() > 0 ? ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC) : -1;
    RemoveFifo(fifo);
    if (fd_ < 0) {
        player_.reset();
        return;
    }
    writer_ = std::thread([this, tone] {
        ToneWriter writer(tone, 1);
        std::vector<std::int16_t> samples;
        while (!quit_) {
            writer.Fill(samples, kRate / 100);
            if (!WriteAll(fd_, samples, true)) break;
        }
    });
}

MarkedPlayback::~MarkedPlayback() {
    quit_ = true;
    if (player_) player_->Kill(SIGKILL);  // the writer's next write fails
    if (writer_.joinable()) writer_.join();
    if (fd_ >= 0) ::close(fd_);
}

std::vector<float> ReadMono(const std::string& path, int& rate) {
    rate = ReadSoxInfo(path).rate;
    const CommandResult r = RunCommand({"sox", path, "-t", "raw", "-e", "floating-point", "-b", "32", "-", "remix", "-"},
                                       std::chrono::seconds(120), false);
    if (r.status != 0 || rate <= 0) return {};
    std::vector<float> mono(r.output.size() / sizeof(float));
    std::memcpy(mono.data(), r.output.data(), mono.size() * sizeof(float));
    return mono;
}

ToneTrack TrackTone(const std::vector<float>& mono, int rate, double frequency, double from, double to) {
    ToneTrack track;
    const auto at = [&](std::size_t i) { return double(i) / rate; };
    // The tone's amplitude and phase in a Hann window of `length` samples from `first`.
    const auto measure = [&](std::size_t first, std::size_t length) {
        std::complex<double> sum;
        double weights = 0;
        for (std::size_t i = first; i < first + length; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i - first) / double(length));
            sum += w * double(mono[i]) * std::polar(1.0, -2 * std::numbers::pi * frequency * double(i) / rate);
            weights += w;
        }
        return sum * (2 / weights);
    };
    const std::size_t block = std::size_t(rate) / 100;
    const auto first = std::size_t(from * rate), last = std::min(mono.size(), std::size_t(to * rate));
    std::vector<std::complex<double>> blocks;
    for (std::size_t i = first; i + block <= last; i += block) blocks.push_back(measure(i, block));
    if (blocks.size() < 3) return track;
    std::vector<double> amplitudes;
    for (const auto& b : blocks) amplitudes.push_back(std::abs(b));
    std::nth_element(amplitudes.begin(), amplitudes.begin() + std::ptrdiff_t(amplitudes.size() / 2), amplitudes.end());
    const double half = amplitudes[amplitudes.size() / 2] / 2;
    const auto low = [&](std::size_t k) { return std::abs(blocks[k]) < half; };
    double steps = 0;
    std::size_t stepped = 0;

    for (std::size_t k = 0; k < blocks.size();) {
        if (!low(k)) {
            // Two blocks on from any gap, the phase advances by the same step each block.
            const bool settled = k >= 4 && !low(k - 1) && !low(k - 2) && !low(k - 3) && !low(k - 4) &&
                                 k + 2 < blocks.size() && !low(k + 1) && !low(k + 2);
            if (settled) {
                const double step = std::arg(blocks[k] * std::conj(blocks[k - 1]));
                const double before = std::arg(blocks[k - 1] * std::conj(blocks[k - 2]));
                if (std::abs(std::remainder(step - before, 2 * std::numbers::pi)) > 0.3)
                    track.faults.push_back(at(first + k * block));
                if (at(first + k * block) >= to - 60) {
                    steps += step;
                    ++stepped;
                }
            }
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end < blocks.size() && low(end)) ++end;
        const std::size_t lowBlocks = end - k;
        // A mark is 50 ms: three to six blocks fall below half; anything else is a fault.
        if (k == 0 || end == blocks.size() || lowBlocks < 3 || lowBlocks > 6) {
            track.faults.push_back(at(first + k * block));
        } else {
            // Where the gap begins, to a quarter of a millisecond: a 5 ms window's amplitude
            // halves when the window is centred on the edge.
            const std::size_t window = std::size_t(rate) / 200, hop = std::max<std::size_t>(1, std::size_t(rate) / 4000);
            std::size_t i = first + (k - 1) * block - window / 2;
            while (i + window < first + end * block && std::abs(measure(i, window)) >= half) i += hop;
            track.marks.push_back(at(i + window / 2));
        }
        k = end;
    }
    // The phase advances by the difference of the pitches each block.
    if (stepped > 0) track.frequency = frequency + steps / double(stepped) / (2 * std::numbers::pi) * rate / double(block);
    return track;
}

std::vector<double> MarkOffsets(const ToneTrack& a, const ToneTrack& b) {
    std::vector<double> offsets;
    if (a.marks.empty()) return offsets;
    for (const double mark : b.marks) {
        const auto nearest = std::min_element(a.marks.begin(), a.marks.end(), [&](double x, double y) {
            return std::abs(x - mark) < std::abs(y - mark);
        });
        offsets.push_back(mark - *nearest);
    }
    return offsets;
}

}  // namespace larkspur::test
