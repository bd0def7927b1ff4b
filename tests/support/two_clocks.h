#pragma once
#include "tests/support/audio_checks.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Two sources on two clocks, each playing a marked tone, and the analysis that tells whether a
// recording of both kept them in step: for the mix tests and the mix benchmark.
namespace larkspur::test {

// A tone at 0.3 of full scale (44100 Hz stereo, 16 bit) with a 50 ms gap every `markEvery` seconds of wall
// time, so that where the gaps land in a recording tells where each source's time went.
struct MarkedTone {
    double frequency = 1000;
    double markEvery = 10;
};

// A source with a clock of its own: module-pipe-source fed by a thread that paces the tone at
// `speed` times the nominal rate by the wall clock.
class PacedSource {
public:
    PacedSource(const std::string& name, double speed, const MarkedTone& tone);
    ~PacedSource();
    PacedSource(const PacedSource&) = delete;
    PacedSource& operator=(const PacedSource&) = delete;
    bool Loaded() const { return module_ > 0; }
    // The device unplugged: the module goes (the writer keeps its time meanwhile), and is loaded
    // again by Load.
    void Unload();
    void Load();

private:
    void Write();

    std::string name_, fifo_;
    double speed_;
    MarkedTone tone_;
    int module_ = 0;
    std::atomic<int> fd_{-1};
    std::atomic<bool> quit_{false};
    std::thread writer_;
};

// The tone played into a sink by pacat, at the sink's clock.
class MarkedPlayback {
public:
    MarkedPlayback(const std::string& sink, const MarkedTone& tone);
    ~MarkedPlayback();
    MarkedPlayback(const MarkedPlayback&) = delete;
    MarkedPlayback& operator=(const MarkedPlayback&) = delete;
    bool Started() const { return player_ != nullptr; }

private:
    std::unique_ptr<Child> player_;
    int fd_ = -1;
    std::atomic<bool> quit_{false};
    std::thread writer_;
};

// One tone followed through a recording (the mean of its channels).
struct ToneTrack {
    std::vector<double> marks;     // where each gap begins, seconds into the file
    std::vector<double> faults;    // where the tone jumped in phase or fell silent outside a gap
    double frequency = 0;          // its pitch over the last minute, to a thousandth of a hertz
};
// The mean of a wave file's channels (read by sox), and its rate; empty where it cannot be read.
std::vector<float> ReadMono(const std::string& path, int& rate);
// Follows the tone near `frequency` (within a few hertz: a source of another clock is recorded at
// its own pitch) over [from, to) seconds.
ToneTrack TrackTone(const std::vector<float>& mono, int rate, double frequency, double from, double to);
// The differences between each of b's marks and a's nearest, in seconds.
std::vector<double> MarkOffsets(const ToneTrack& a, const ToneTrack& b);

}  // namespace larkspur::test
