// Recording-device benchmark. Records from the null sink's monitor for 60 s (or the seconds
// given) beside parecord recording the same sink, once alone and once with the MP3 encoded while
// recording, and prints CPU time against parecord, peak memory at 10 s and at the end, and the
// time Save takes for short and long recordings.
// Run inside the PulseAudio fixture: cmake --build <build> --target bench_device
#include "audio/mp3/early_mp3.h"
#include "audio/media_player.h"
#include "audio/wave_file.h"
#include "bench/peak_memory.h"
#include "tests/support/audio_checks.h"
#include "tests/support/fake_capture.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace larkspur;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return CpuSeconds(u);
}

template <class F>
double MillisecondsOf(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// parecord on the same monitor; returns its CPU seconds when stopped.
class Parecord {
public:
    Parecord(const std::string& sink, const std::string& file, const char* latency)
        : child_(Args(sink, file, latency)) {}
    double Stop() {
        child_.Signal(SIGINT);
        rusage u{};
        int status = 0;
        wait4(child_.Pid(), &status, 0, &u);
        return CpuSeconds(u);
    }

private:
    static std::vector<std::string> Args(const std::string& sink, const std::string& file,
                                         const char* latency) {
        std::vector<std::string> args{"parecord", "-d", sink + ".monitor", "--file-format=wav",
                                      "--rate=44100", "--channels=2", "--format=s16le"};
        if (latency) args.push_back(std::string("--latency-msec=") + latency);
        args.push_back(file);
        return args;
    }
    test::Child child_;
};

// Save of the element path and of a copy after a recording of the given length from the fast
// test source.
void SaveTimes(const std::filesystem::path& dir, std::chrono::seconds length) {
    const std::string element = (dir / "fast.wav").string();
    test::WriteWaveTemplate(element, {2, 44100, 16});
    auto fake = std::make_shared<test::FakeCapture>();
    TMediaPlayer player(fake);
    player.SetFileName(element);
    player.Open();
    player.Record();
    for (auto t = 0s; t < length; t += 1s) fake->Advance(1s);
    player.Stop();
    const double inPlace = MillisecondsOf([&] { player.Save(); });
    player.SetFileName((dir / "fast-copy.wav").string());
    const double copy = MillisecondsOf([&] { player.Save(); });
    player.Close();
    std::printf("  %4lld s recording (%6.1f MB): Save in place %8.3f ms, Save to another path %8.1f ms\n",
                static_cast<long long>(length.count()),
                std::filesystem::file_size(element) / 1e6, inPlace, copy);
    std::filesystem::remove(element);
    std::filesystem::remove(dir / "fast-copy.wav");
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const char* sinkEnv = std::getenv("LARKSPUR_TEST_SINK");
    if (!sinkEnv || seconds < 11) {
        std::fprintf(stderr, "usage: with-fixtures.sh --pulseaudio -- device_bench [seconds >= 11]\n");
        return 2;
    }
    const std::string sink = sinkEnv;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("larkspur-device-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    if (!test::WaitUntilAwake(sink)) {
        std::fprintf(stderr, "the sink delivers no data\n");
        return 1;
    }
    // A tone to record, longer than both recordings.
    const test::TonePlayer tone(sink, 2 * seconds + 10);

    const std::string element = (dir / "~temp.wav").string();
    std::printf("Recording %d s of 44100 Hz 16-bit stereo from %s.monitor, without and with the "
                "MP3 encoded while recording\n",
                seconds, sink.c_str());
    for (const bool early : {false, true}) {
        test::WriteWaveTemplate(element, {2, 44100, 16});
        TMediaPlayer device;
        auto mp3 = early ? std::make_shared<EarlyMp3>((dir / "~temp.mp3").string(),
                                                      WaveFormat{2, 44100, 16})
                         : nullptr;
        device.SetSampleTap(mp3);
        device.SetFileName(element);
        device.Open();
        Parecord sameFragment(sink, (dir / "parecord-25ms.wav").string(), "25");
        Parecord defaults(sink, (dir / "parecord-default.wav").string(), nullptr);
        const long peakBefore = PeakKiB();
        const double cpuStart = SelfCpu();
        const auto start = Clock::now();
        device.Record();
        std::this_thread::sleep_until(start + 10s);
        const long peakAt10 = PeakKiB();
        std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
        device.Stop();
        const double cpu = SelfCpu() - cpuStart;
        const double parecordSame = sameFragment.Stop();
        const double parecordDefault = defaults.Stop();
        const long peakAtEnd = PeakKiB();
        const double saveInPlace = MillisecondsOf([&] { device.Save(); });
        device.Close();
        const double finish = MillisecondsOf([&] {
            if (mp3) mp3->Finish(element);
        });
        const auto info = test::ReadSoxInfo(element);

        std::printf("%s\n", early ? "With the MP3 encoded while recording" : "Recording alone");
        std::printf("  recorded length %.3f s\n", double(info.samples) / 44100);
        std::printf("  CPU time larkspur (whole process) %7.3f s\n", cpu);
        std::printf("  parecord --latency-msec=25        %7.3f s   ratio larkspur/parecord %.2f\n",
                    parecordSame, parecordSame > 0 ? cpu / parecordSame : 0.0);
        std::printf("  parecord (default latency)        %7.3f s   ratio larkspur/parecord %.2f\n",
                    parecordDefault, parecordDefault > 0 ? cpu / parecordDefault : 0.0);
        std::printf("  peak resident memory (VmHWM): before %ld KiB, at 10 s %ld KiB, at %d s %ld KiB\n",
                    peakBefore, peakAt10, seconds, peakAtEnd);
        std::printf("  Save of the element path: %.3f ms", saveInPlace);
        if (mp3) std::printf("; early MP3 finished in %.3f ms%s", finish, mp3->Abandoned() ? " (given up)" : "");
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("Save after recordings from the fast test source\n");
    SaveTimes(dir, 60s);
    SaveTimes(dir, 600s);
    std::filesystem::remove_all(dir);
    return 0;
}
