#pragma once
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

CaptureSource ChosenCaptureSource();
void SetChosenCaptureSource(const CaptureSource& source);

}  // namespace larkspur
