#pragma once
#include "audio/wave_file.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Checks of recorded files by standard tools (sox, soxi) and the processes around them (players,
// sound servers), for the audio tests and the device benchmark.
namespace larkspur::test {

// A child process started without a shell, killed and reaped when it goes out of scope. The
// environment entries ("NAME=value") come before the inherited ones; the descriptors, when given,
// become its standard output and error.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   int stdoutFd = -1, int stderrFd = -1);
    ~Child() { Kill(9); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int Pid() const { return pid_; }
    void Signal(int sig) const;
    // Sends the signal (also to a stopped child) and reaps it.
    void Kill(int sig);

private:
    int pid_ = -1;
};

// A tone at half scale (44100 Hz stereo, 16 bit; 1 kHz unless told) playing into a sink for the
// given time, or until the object goes; as a program of the name given, where one is.
// Started() is false when sox or paplay could not be run.
struct Tone {
    double frequency = 1000;
    std::string program;  // paplay's application.name
};
class TonePlayer {
public:
    TonePlayer(const std::string& sink, double seconds, const std::vector<std::string>& env = {},
               const Tone& tone = {});
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;
    bool Started() const { return player_ != nullptr; }

private:
    std::string dir_;
    std::unique_ptr<Child> player_;
};

// A null sink of its own name (and description) on the test's server while the object lives,
// awake unless told otherwise (a listener keeps its monitor delivering).
class ExtraSink {
public:
    explicit ExtraSink(const std::string& name, bool keepAwake = true);
    ~ExtraSink() { Unload(); }
    void Unload();
    bool Loaded() const { return module_ > 0; }

private:
    std::unique_ptr<Child> keepAlive_;
    int module_ = 0;
};

// The null sink of the test's own sound server (LARKSPUR_TEST_SINK), empty without one.
std::string TestSink();

// Writes the 44-byte template of an empty recording in that format, as the recorder does.
void WriteWaveTemplate(const std::string& path, const WaveFormat& format);

// Waits until a sink's monitor delivers data: a null sink that has just been created or left idle
// sleeps in blocks of up to 2 s before a low-latency stream takes effect.
bool WaitUntilAwake(const std::string& sink, const std::vector<std::string>& env = {});

// Runs argv without a shell; returns its standard output (and error, unless told not to) and its
// exit status. A command still running after the time given is killed (status -1).
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         bool withStderr = true);

// What soxi reads from a file's header; valid is false when soxi cannot open it.
struct SoxInfo {
    bool valid = false;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    long long samples = 0;  // sample frames
    std::string encoding;
};
SoxInfo ReadSoxInfo(const std::string& path);

// sox's "stat" over the first channel of [start, start + length) seconds.
struct SoxStat {
    bool valid = false;
    double rms = 0;
    double maximum = 0;
    double frequency = 0;
};
SoxStat ReadSoxStat(const std::string& path, double start, double length);

// The level of one frequency in the first channel of [start, start + length) s, in dB of full
// scale (a half-scale sine reads -6 dB); a Hann-windowed Goertzel filter over the samples, so
// that a tone 2 kHz away does not leak in. -200 where the file cannot be read.
double ToneLevelDb(const std::string& path, double start, double length, double frequency);

}  // namespace larkspur::test
