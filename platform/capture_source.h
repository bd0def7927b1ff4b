#pragma once
#include <functional>
#include <string>

// The source the recorder's capture stream records from. The loop-back selection at start-up
// sets it; the capture backend reads it when a recording opens. The system's default source is
// never changed.
namespace larkspur {

struct CaptureSource {
    enum class Kind {
        ServerDefault,         // nothing chosen: the server's default source
        DefaultOutputMonitor,  // "Stereo Mix": follows the default output's monitor
        Named,                 // a source chosen by its server name
    };
    Kind kind = Kind::ServerDefault;
    std::string name;  // the server's source name for Kind::Named
};

// While a selection runs in the background, waits for it (except on its own thread).
CaptureSource ChosenCaptureSource();
void SetChosenCaptureSource(const CaptureSource& source);

// Runs a selection on a thread of its own, so that its round trips to the sound server keep off
// the start-up path; every reader of the chosen source waits for it to end. One at a time: a
// second waits for the first. The program's exit waits for it too.
void SelectCaptureSourceInBackground(std::function<void()> select);

}  // namespace larkspur
