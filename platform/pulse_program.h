#pragma once
#include <pulse/proplist.h>

#include <string>

// Which program a playback stream belongs to, as the recorder tells programs apart: by the name
// the program gives itself (what a person sees in any mixer), else by the binary that runs it.
namespace larkspur {

struct PlayingProgram {
    std::string name;  // empty: the stream says nothing of its program
    std::string icon;  // an icon theme name, where the stream carries one
};

PlayingProgram ProgramOf(const pa_proplist* properties);

}  // namespace larkspur
