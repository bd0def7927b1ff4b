#pragma once
#include "audio/wave_file.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <optional>

// A record stream as every source of a recording has it: the recording's own format, small
// fragments, running from the open on.
namespace larkspur {

// Small, so that a stop loses nothing buffered.
inline constexpr int kRecordFragmentMs = 25;

// A stream named "Recording" in `format`, monitoring one playback stream where one is given;
// nothing where the server refused it.
pa_stream* NewRecordStream(pa_context* context, const WaveFormat& format,
                           std::optional<std::uint32_t> monitorInput = std::nullopt);
// Connects it to the device (the server's default without one); `stay` keeps it there when
// the server would move it. False where the server refused at once.
bool ConnectRecordStream(pa_stream* stream, const WaveFormat& format, const char* device, bool stay);
// Leaves the stream: no callback of it runs from now on.
void ReleaseRecordStream(pa_stream*& stream);

}  // namespace larkspur
