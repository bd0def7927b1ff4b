// Early MP3 benchmark: the time from Stop to the MP3 in place when it was encoded while
// recording, for 1, 10 and 60 minutes of 44100 Hz stereo from the capture double (run at full
// speed, paced only so that the encoder's queue never overflows), beside the time Wav2Mp3 and the
// lame program take for the same wave file; and the peak memory of each run. Each length runs in
// a process of its own, so its peak memory is its own.
// Usage: early_mp3_bench [work-dir]   (needs about 700 MB of disk for the 60 minutes)
#include "audio/mp3/early_mp3.h"
#include "audio/media_player.h"
#include "audio/mp3/wav2mp3.h"
#include "audio/wave_file.h"
#include "bench/peak_memory.h"
#include "tests/support/audio_checks.h"
#include "tests/support/fake_capture.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace larkspur;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

template <class F>
double SecondsOf(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool SameBytes(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(fa), {}, std::istreambuf_iterator<char>(fb), {});
}

int RunLength(const std::filesystem::path& dir, int minutes, char* self) {
    int argc = 1;
    QApplication app(argc, &self);  // the converter's progress display
    const WaveFormat format{2, 44100, 16};
    const std::string wave = (dir / "~temp.wav").string();
    const std::string early = (dir / "~temp.mp3").string();
    const std::string placed = (dir / "early.mp3").string();
    test::WriteWaveTemplate(wave, format);

    auto capture = std::make_shared<test::FakeCapture>();
    auto mp3 = std::make_shared<EarlyMp3>(early, format);
    TMediaPlayer player(capture);
    player.SetSampleTap(mp3);
    player.SetFileName(wave);
    player.Open();
    player.Record();
    for (int s = 0; s < minutes * 60; ++s) {
        capture->Advance(1s);
        // Real time would give the encoder this long; the double does not wait by itself.
        while (mp3->Queued() > EarlyMp3::kQueueBytes / 2) std::this_thread::sleep_for(1ms);
    }
    while (mp3->Queued() > 0) std::this_thread::sleep_for(1ms);
    const long peakRecording = PeakKiB();
    bool finished = false;
    const double stopToMp3 = SecondsOf([&] {
        player.Stop();
        player.Save();
        player.Close();
        finished = mp3->Finish(wave) && std::rename(early.c_str(), placed.c_str()) == 0;
    });
    if (!finished) {
        std::fprintf(stderr, "the early MP3 was not completed\n");
        return 1;
    }
    mp3->HandedOver();

    const std::string converted = (dir / "converted.mp3").string();
    bool converterDone = false;
    const double convert = SecondsOf([&] {
        converterDone = Wav2Mp3(nullptr, QString::fromStdString(wave), QString::fromStdString(converted));
    });
    const std::string lamed = (dir / "lame.mp3").string();
    int lameStatus = -1;
    const double lame = SecondsOf([&] {
        lameStatus = test::RunCommand({"lame", "--quiet", "-b", "192", "--cbr", "-m", "s", wave, lamed})
                         .status;
    });
    std::printf("  %2d min (%6.1f MB wave): Stop to MP3 in place %7.3f s | Wav2Mp3 %7.2f s "
                "(ratio %.4f) | lame %7.2f s%s | peak memory while recording %6.1f MiB | "
                "bytes equal to Wav2Mp3's: %s\n",
                minutes, std::filesystem::file_size(wave) / 1e6, stopToMp3, convert,
                convert > 0 ? stopToMp3 / convert : 0.0, lame, lameStatus == 0 ? "" : " (failed)",
                peakRecording / 1024.0,
                converterDone && SameBytes(placed, converted) ? "yes" : "NO");
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool own = argc < 2;
    const std::filesystem::path root =
        own ? std::filesystem::temp_directory_path() /
                  ("larkspur-early-mp3-bench-" + std::to_string(getpid()))
            : std::filesystem::path(argv[1]);
    std::printf("Early MP3: Stop to MP3 in place, 44100 Hz 16-bit stereo 1 kHz tone\n");
    std::fflush(stdout);
    int failures = 0;
    for (const int minutes : {1, 10, 60}) {
        const auto dir = root / std::to_string(minutes);
        std::filesystem::create_directories(dir);
        const pid_t pid = fork();
        if (pid == 0) _exit(RunLength(dir, minutes, argv[0]));
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
        std::filesystem::remove_all(dir);
    }
    if (own) std::filesystem::remove_all(root);
    return failures == 0 ? 0 : 1;
}
