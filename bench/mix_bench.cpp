// Mix benchmark: what the computer plays (the test sink's monitor, on the server's clock) and an
// input with a clock of its own (500 ppm fast), recorded mixed for 60 minutes (or the minutes
// given), beside two parecord processes recording the same two sources. Prints how the offset
// between the two sources' marks moved over the recording, the resampling ratio the input settled
// on (its tone's pitch in the file against the pitch it was made at), and CPU time against the
// two parecords. The sources are fed by a process of their own, so that this one's CPU time is
// the recorder's.
// Run inside a fixture: cmake --build <build> --target bench_mix   (PulseAudio; the command it
// runs, with --pipewire, measures PipeWire)
#include "audio/media_player.h"
#include "platform/capture_source.h"
#include "tests/support/audio_checks.h"
#include "tests/support/two_clocks.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace larkspur;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kComputer = 1010, kInput = 2530, kSpeed = 1.0005;

volatile std::sig_atomic_t quit = 0;

double CpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Feeds both sources until told to stop; the module goes with it.
int Feed(const std::string& sink) {
    std::signal(SIGTERM, [](int) { quit = 1; });
    test::MarkedPlayback computer(sink, {kComputer});
    test::PacedSource input("fast_mic", kSpeed, {kInput});
    if (!computer.Started() || !input.Loaded()) return 1;
    while (!quit) pause();
    return 0;
}

// parecord on one source; returns its CPU seconds when stopped.
double StopParecord(test::Child& child) {
    child.Signal(SIGINT);
    rusage u{};
    int status = 0;
    wait4(child.Pid(), &status, 0, &u);
    return CpuSeconds(u);
}

}  // namespace

int main(int argc, char** argv) {
    const char* sinkEnv = std::getenv("LARKSPUR_TEST_SINK");
    if (sinkEnv && argc > 1 && std::string(argv[1]) == "--feed") return Feed(sinkEnv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
    if (!sinkEnv || minutes < 0.5) {
        std::fprintf(stderr, "usage: with-fixtures.sh --pulseaudio|--pipewire -- mix_bench [minutes >= 0.5]\n");
        return 2;
    }
    const std::string sink = sinkEnv;
    const auto dir = std::filesystem::temp_directory_path() / ("larkspur-mix-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    test::Child feed({argv[0], "--feed"});
    for (int i = 0; i < 50 && test::RunCommand({"pactl", "list", "short", "sources"}).output.find("fast_mic") ==
                                  std::string::npos;
         ++i)
        std::this_thread::sleep_for(100ms);

    const std::string element = (dir / "mix.wav").string();
    test::WriteWaveTemplate(element, {2, 44100, 16});
    SetChosenCaptureSources({{CaptureSource::Kind::DefaultOutputMonitor, {}}, {CaptureSource::Kind::Named, "fast_mic"}});
    TMediaPlayer player;
    player.SetFileName(element);
    player.Open();
    const auto parecord = [&](const std::string& source, const char* file) {
        return std::make_unique<test::Child>(std::vector<std::string>{
            "parecord", "-d", source, "--file-format=wav", "--rate=44100", "--channels=2", "--format=s16le",
            "--latency-msec=25", (dir / file).string()});
    };
    auto computerCopy = parecord(sink + ".monitor", "computer.wav");
    auto inputCopy = parecord("fast_mic", "input.wav");
    std::printf("Recording %.1f min of %s.monitor (%g Hz) mixed with an input %.0f ppm fast (%g Hz)\n", minutes,
                sink.c_str(), kComputer, (kSpeed - 1) * 1e6, kInput);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    player.Record();
    std::this_thread::sleep_until(start + std::chrono::duration<double>(minutes * 60));
    player.Stop();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double cpu = CpuSeconds(after) - CpuSeconds(before);
    const double parecords = StopParecord(*computerCopy) + StopParecord(*inputCopy);
    player.Save();
    player.Close();
    feed.Signal(SIGTERM);

    int rate = 0;
    const std::vector<float> mono = test::ReadMono(element, rate);
    if (rate == 0) {
        std::fprintf(stderr, "the recording cannot be read\n");
        return 1;
    }
    const double length = double(mono.size()) / rate;
    const test::ToneTrack computer = test::TrackTone(mono, rate, kComputer, 0.5, length - 0.1);
    const test::ToneTrack input = test::TrackTone(mono, rate, kInput, 0.5, length - 0.1);
    const std::vector<double> offsets = test::MarkOffsets(computer, input);
    std::printf("  length %.3f s for %.3f s of wall time (%+.1f ms)\n", length, wall, (length - wall) * 1000);
    std::printf("  faults (dropouts, repeats, phase jumps): computer %zu, input %zu\n", computer.faults.size(),
                input.faults.size());
    if (!offsets.empty()) {
        const auto [low, high] = std::minmax_element(offsets.begin(), offsets.end());
        std::printf("  offset of the input's marks from the computer's: %.2f ms at the start", offsets.front() * 1000);
        for (std::size_t i = 60; i < offsets.size(); i += 60) std::printf(", %.2f ms at %zu min", offsets[i] * 1000, i / 6);
        std::printf(", %.2f ms at the end; %.2f ms apart at most\n", offsets.back() * 1000, (*high - *low) * 1000);
    }
    std::printf("  the input's resampling ratio settled on %.6f (its clock: %.6f)\n", input.frequency / kInput, kSpeed);
    std::printf("  CPU: %.2f s recording and mixing, %.2f s for the two parecords (%.2fx); %.2f%% of a core\n", cpu,
                parecords, parecords > 0 ? cpu / parecords : 0, cpu / wall * 100);
    std::filesystem::remove_all(dir);
    return 0;
}
