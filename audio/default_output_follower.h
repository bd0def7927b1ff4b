#pragma once
#include "audio/pulse_connection.h"

#include <functional>
#include <string>

// Which source "Stereo Mix" means now: the monitor of the server's default output, and the
// words for it. Kept current between recordings (the connection hears of every change), so that
// Record need not ask.
//
// Threads: everything here runs with the connection's loop locked.
namespace larkspur {

class DefaultOutputFollower {
public:
    // changed runs whenever a lookup ends: Known() says whether it found a monitor.
    DefaultOutputFollower(PulseConnection& connection, std::function<void()> changed)
        : connection_(connection), changed_(std::move(changed)) {}

    // Asks the server again; what was known is forgotten until the answer comes.
    void LookUp();
    void Forget() { known_ = false; }

    bool Known() const { return known_; }
    // The last lookup found no default output, or none with a monitor.
    bool Failed() const { return failed_; }
    const std::string& Monitor() const { return monitor_; }
    const std::string& Words() const { return words_; }

private:
    void Found(const char* monitor, std::string words);
    void NotFound();

    PulseConnection& connection_;
    std::function<void()> changed_;
    bool known_ = false;
    bool failed_ = false;
    std::string monitor_;
    std::string words_;
};

}  // namespace larkspur
