// WAV to MP3 benchmark: our conversion against the lame program on the same 10-minute 44100 Hz
// stereo file of music-like content, and the peak memory of a 10-minute and a 60-minute
// conversion. Each conversion runs in a process of its own, so its time and peak memory are its
// own. Usage: mp3_bench [work-dir]   (default: a new folder under /tmp, removed afterwards)
#include <QApplication>
#include <QString>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

#include "audio/mp3/wav2mp3.h"

extern char** environ;

namespace {

constexpr std::uint32_t kRate = 44100;

struct Run {
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
};

Run Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Run run;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKiB = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The faster of two runs (`a` may be none yet), wall and CPU time each on its own; the peak memory
// of the later.
Run Best(const Run& a, const Run& b) {
    if (!a.ok) return b;
    Run best = b;
    best.wallSeconds = std::min(a.wallSeconds, b.wallSeconds);
    best.cpuSeconds = std::min(a.cpuSeconds, b.cpuSeconds);
    return best;
}

void Put16(std::vector<char>& b, std::uint32_t v) {
    b.push_back(static_cast<char>(v & 0xff));
    b.push_back(static_cast<char>((v >> 8) & 0xff));
}

void Put32(std::vector<char>& b, std::uint32_t v) {
    Put16(b, v & 0xffff);
    Put16(b, v >> 16);
}

std::vector<char> Header(std::uint32_t dataBytes) {
    std::vector<char> h;
    for (char c : std::string("RIFF")) h.push_back(c);
    Put32(h, 36 + dataBytes);
    for (char c : std::string("WAVEfmt ")) h.push_back(c);
    Put32(h, 16);
    Put16(h, 1);
    Put16(h, 2);
    Put32(h, kRate);
    Put32(h, kRate * 4);
    Put16(h, 4);
    Put16(h, 16);
    for (char c : std::string("data")) h.push_back(c);
    Put32(h, dataBytes);
    return h;
}

// A band in a loop: chords, a bass line, a melody with decaying notes, kick and hi-hat, each
// placed somewhere in the stereo image. Deterministic.
class Band {
public:
    Band() {
        for (std::size_t i = 0; i < table_.size(); ++i) {
            table_[i] = static_cast<float>(std::sin(2 * std::numbers::pi * i / table_.size()));
        }
    }

    // Fills interleaved stereo samples for frames starting at sample frame `at`.
    void Render(std::uint64_t at, std::vector<std::int16_t>& out) {
        for (std::size_t i = 0; i < out.size() / 2; ++i) {
            const std::uint64_t n = at + i;
            const double t = static_cast<double>(n) / kRate;
            const int bar = static_cast<int>(t / 2.0);
            const int eighth = static_cast<int>(t / 0.25);
            const double inEighth = t - eighth * 0.25;
            const double inBeat = std::fmod(t, 0.5);
            static constexpr int kRoots[4] = {0, 7, 9, 5};  // I V vi IV
            const int root = kRoots[bar % 4];
            if (eighth != lastEighth_) {
                lastEighth_ = eighth;
                static constexpr int kScale[7] = {0, 2, 4, 5, 7, 9, 11};
                melody_ = kScale[random_() % 7] + 12 * static_cast<int>(random_() % 2);
            }
            double left = 0, right = 0;
            // Chord: root, third, fifth with a few harmonics, slightly left.
            const int third = (bar % 4 == 2) ? 3 : 4;
            for (int note : {root, root + third, root + 7}) {
                const double v = 0.06 * Voice(Hz(48 + note), n, 3);
                left += v * 0.6;
                right += v * 0.4;
            }
            // Bass: eighth notes on the root, brighter, centre.
            const double bass = 0.18 * Voice(Hz(36 + root), n, 6) * std::exp(-inEighth * 6);
            left += bass;
            right += bass;
            // Melody: decaying plucks, right.
            const double lead = 0.12 * Voice(Hz(72 + root + melody_), n, 5) * std::exp(-inEighth * 10);
            left += lead * 0.3;
            right += lead * 0.7;
            // Kick on every beat, hi-hat noise on the off-beats.
            const double kick = 0.35 * std::exp(-inBeat * 25) *
                                Sine(55 + 120 * std::exp(-inBeat * 40), n);
            const double hat = inBeat > 0.25 ? 0.05 * std::exp(-(inBeat - 0.25) * 60) * Noise() : 0;
            left += kick + hat * 0.8;
            right += kick + hat;
            out[2 * i] = Clip(left);
            out[2 * i + 1] = Clip(right);
        }
    }

private:
    static double Hz(int midi) {
        static const std::array<double, 128> hz = [] {
            std::array<double, 128> t{};
            for (int m = 0; m < 128; ++m) t[m] = 440.0 * std::pow(2.0, (m - 69) / 12.0);
            return t;
        }();
        return hz[static_cast<std::size_t>(midi)];
    }
    static std::int16_t Clip(double v) {
        return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    double Sine(double hz, std::uint64_t n) const {
        const double phase = std::fmod(hz * static_cast<double>(n) / kRate, 1.0);
        return table_[static_cast<std::size_t>(phase * table_.size()) % table_.size()];
    }
    double Voice(double hz, std::uint64_t n, int harmonics) const {
        double v = 0;
        for (int k = 1; k <= harmonics; ++k) v += Sine(hz * k, n) / k;
        return v;
    }
    double Noise() { return static_cast<double>(random_() % 2001) / 1000.0 - 1.0; }

    std::array<float, 4096> table_{};
    std::minstd_rand random_{12345};
    int lastEighth_ = -1;
    int melody_ = 0;
};

bool MakeWave(const std::string& path, double minutes) {
    const auto frames = static_cast<std::uint64_t>(minutes * 60 * kRate);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::vector<char> header = Header(static_cast<std::uint32_t>(frames * 4));
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    Band band;
    std::vector<std::int16_t> block(2 * kRate);
    for (std::uint64_t at = 0; at < frames; at += kRate) {
        block.resize(2 * std::min<std::uint64_t>(kRate, frames - at));
        band.Render(at, block);
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * 2));
    }
    return out.good();
}

// The 60-minute file: the 10-minute music six times over (the content does not change memory).
bool Repeat(const std::string& from, const std::string& to, int times) {
    const std::uintmax_t data = std::filesystem::file_size(from) - 44;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    const std::vector<char> header = Header(static_cast<std::uint32_t>(data * times));
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    std::vector<char> block(1 << 20);
    for (int i = 0; i < times; ++i) {
        std::ifstream in(from, std::ios::binary);
        in.seekg(44);
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
            out.write(block.data(), in.gcount());
        }
    }
    return out.good();
}

int Convert(int argc, char** argv) {
    // The progress display is a widget; no screen is needed to measure.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return larkspur::Wav2Mp3(nullptr, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]))
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--convert") return Convert(argc, argv);

    namespace fs = std::filesystem;
    const bool own = argc < 2;
    const fs::path dir =
        own ? fs::temp_directory_path() / ("larkspur-mp3-bench-" + std::to_string(getpid()))
            : fs::path(argv[1]);
    fs::create_directories(dir);
    // The files run to 700 MB: an own folder goes on every way out.
    struct Cleanup {
        bool own;
        fs::path dir;
        ~Cleanup() {
            if (own) fs::remove_all(dir);
        }
    } cleanup{own, dir};
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        // Qt wants a private runtime folder; give it one instead of a warning in every child.
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }
    const std::string self = fs::canonical("/proc/self/exe");
    const std::string wav10 = dir / "music10.wav", wav60 = dir / "music60.wav";
    const std::string ours = dir / "ours.mp3", theirs = dir / "lame.mp3", ours60 = dir / "ours60.mp3";

    std::printf("making a 10-minute 44100 Hz stereo music-like file...\n");
    if (!MakeWave(wav10, 10)) return 1;

    // Alternating rounds, the best of each side: the machine may be busy with other work.
    constexpr int kRounds = 3;
    Run us, lame;
    bool lameWorks = true;
    for (int round = 0; round < kRounds; ++round) {
        const Run ourRun = Spawn({self, "--convert", wav10, ours});
        if (!ourRun.ok) {
            std::printf("our conversion failed\n");
            return 1;
        }
        us = Best(us, ourRun);
        const Run lameRun = Spawn({"lame", "--quiet", "-b", "192", "--cbr", "-m", "s", wav10, theirs});
        lameWorks = lameWorks && lameRun.ok;
        lame = Best(lame, lameRun);
    }

    std::printf("\n10-minute file, CBR 192 kbit/s stereo, quality 3 on both sides, best of %d\n",
                kRounds);
    std::printf("  ours (Wav2Mp3):              %7.2f s wall  %7.2f s CPU  %6.1f MiB peak  %ju bytes\n",
                us.wallSeconds, us.cpuSeconds, us.peakKiB / 1024.0,
                static_cast<std::uintmax_t>(fs::file_size(ours)));
    if (lameWorks) {
        std::printf("  lame -b 192 --cbr -m s:      %7.2f s wall  %7.2f s CPU  %6.1f MiB peak  %ju bytes\n",
                    lame.wallSeconds, lame.cpuSeconds, lame.peakKiB / 1024.0,
                    static_cast<std::uintmax_t>(fs::file_size(theirs)));
        std::printf("  ratio ours / lame:           %7.3f wall   %7.3f CPU\n",
                    us.wallSeconds / lame.wallSeconds, us.cpuSeconds / lame.cpuSeconds);
    } else {
        std::printf("  lame program not found or failed: no comparison\n");
    }

    std::printf("\nmaking the 60-minute file...\n");
    if (!Repeat(wav10, wav60, 6)) return 1;
    fs::remove(theirs);
    const Run us60 = Spawn({self, "--convert", wav60, ours60});
    if (!us60.ok) {
        std::printf("our 60-minute conversion failed\n");
        return 1;
    }
    const double diff = (us60.peakKiB - us.peakKiB) / 1024.0;
    std::printf("peak memory of our conversion: 10 min %.1f MiB, 60 min %.1f MiB, difference %+.2f MiB"
                " (%s within 1 MiB); 60 min took %.2f s wall\n",
                us.peakKiB / 1024.0, us60.peakKiB / 1024.0, diff,
                std::abs(diff) <= 1.0 ? "same" : "NOT the same", us60.wallSeconds);
    return 0;
}
