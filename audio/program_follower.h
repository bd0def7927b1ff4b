#pragma once
#include "audio/pulse_connection.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Which playback stream of one program the capture records, and the monitor of the output it
// plays to: looked up when the capture asks (a program chosen, its stream ended, a playback
// stream came), so that the capture follows the program across the streams it opens and closes.
//
// Threads: everything here runs with the connection's loop locked.
namespace larkspur {

class ProgramFollower {
public:
    struct Playback {
        std::string program;
        std::uint32_t input = 0;  // the playback stream's index
        std::string monitor;      // the monitor of the output it plays to
    };

    // found runs when a lookup finds a playback stream of the program it looked for.
    ProgramFollower(PulseConnection& connection, std::function<void(const Playback&)> found)
        : connection_(connection), found_(std::move(found)) {}
    // With the loop locked, or after the connection ended.
    ~ProgramFollower();
    ProgramFollower(const ProgramFollower&) = delete;
    ProgramFollower& operator=(const ProgramFollower&) = delete;

    // Looks for a playback stream of the program; asked again while a lookup runs, it looks once
    // more after it, for a stream that came meanwhile.
    void LookFor(const std::string& program);
    // What was asked is forgotten: an answer still on its way finds nobody.
    void Forget();
    // A lookup runs, or found a stream whose output is being asked for.
    bool Looking() const { return looking_ || candidate_.has_value(); }

private:
    static void PlaybackListed(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void OutputFound(pa_context* c, const pa_sink_info* info, int eol, void* self);
    // The request last sent, held so that it can be cancelled.
    void Hold(pa_operation* op);

    PulseConnection& connection_;
    std::function<void(const Playback&)> found_;
    std::string program_;
    bool looking_ = false;
    bool again_ = false;
    struct Candidate {
        std::uint32_t input = 0;
        std::uint32_t sink = 0;
    };
    std::optional<Candidate> candidate_;
    pa_operation* pending_ = nullptr;
};

}  // namespace larkspur
