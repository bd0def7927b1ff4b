#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The source the recorder's capture stream records from. The loop-back selection at start-up
// sets it; the capture backend reads it when a recording opens. The system's default source is
// never changed.
namespace larkspur {

struct CaptureSource {
    enum class Kind {
        ServerDefault,         // nothing chosen: the server's default source
        DefaultOutputMonitor,  // "Stereo Mix": follows the default output's monitor
        Named,                 // a source chosen by its server name
        Program,               // one program's own streams, whichever output they play to
    };
    Kind kind = Kind::ServerDefault;
    // The server's source name for Kind::Named; the program's key (platform/pulse_program.h)
    // for Kind::Program.
    std::string name;

    friend bool operator==(const CaptureSource&, const CaptureSource&) = default;
};

// Several sources may be chosen at once, and are mixed: the first is the one whose clock the
// recording runs on. None chosen is the server's default source.
using CaptureSources = std::vector<CaptureSource>;

// The first of them, or the server's default where there is none.
inline CaptureSource FirstOf(const CaptureSources& sources) {
    return sources.empty() ? CaptureSource{} : sources.front();
}
// A text that names a source, to key it by.
inline std::string KeyOf(const CaptureSource& source) {
    return std::to_string(int(source.kind)) + ":" + source.name;
}

// While a selection runs in the background, waits for it (except on its own thread).
CaptureSources ChosenCaptureSources();
// The first chosen, or the server's default.
CaptureSource ChosenCaptureSource();
// Sets the selection quietly: what records now goes on as it is (the start-up selection, a move
// the capture was told of).
void SetChosenCaptureSources(const CaptureSources& sources);
void SetChosenCaptureSource(const CaptureSource& source);
// The user's choice, which applies at once: every watcher hears of it.
void ChooseCaptureSources(const CaptureSources& sources);
void ChooseCaptureSource(const CaptureSource& source);

// Runs `chosen` after each ChooseCaptureSource, on the thread that chose, until the returned
// handle goes.
std::shared_ptr<void> WatchCaptureSourceChoice(std::function<void()> chosen);

// Runs a selection on a thread of its own, so that its round trips to the sound server keep off
// the start-up path; every reader of the chosen source waits for it to end. One at a time: a
// second waits for the first. The program's exit waits for it too.
void SelectCaptureSourceInBackground(std::function<void()> select);

}  // namespace larkspur
