#pragma once
#include "platform/capture_source.h"

#include <memory>
#include <string>
#include <vector>

// What can be recorded, as the Recording Control lists it, kept current while the object lives:
// "Stereo Mix" (the default output's monitor), then the server's inputs, then the programs
// playing now, each with its level.
namespace larkspur {

struct SoundSource {
    CaptureSource source;
    std::string text;   // what a person reads: "Stereo Mix", an input's description, a program's name
    std::string icon;   // an icon theme name, where a program gives one
    double level = 0;   // the peak of the last moment, 0 to 1
};

class SoundSources {
public:
    virtual ~SoundSources() = default;
    // The list as it stands, in the window's order. Any thread.
    virtual std::vector<SoundSource> Now() const = 0;
};

// On the sound server: levels are measured only while the object lives. Without a server, the
// list holds "Stereo Mix" alone.
std::unique_ptr<SoundSources> WatchSoundSources();

}  // namespace larkspur
