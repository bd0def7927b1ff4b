#pragma once
#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>

// The connection to the sound server: a threaded main loop and its context, made ahead of Record
// and kept between recordings, made anew when the server went away or restarted.
//
// Threads: the loop's own thread runs every callback with the loop locked; any other thread
// holds a Lock while it touches the context or anything a callback touches.
namespace larkspur {

class PulseConnection {
public:
    static constexpr std::chrono::seconds kConnectTimeout{5};  // the server accepting us and a stream
    static constexpr std::chrono::seconds kCommandTimeout{2};  // any other request to the server

    // Called on the loop's thread, with the loop locked.
    struct Events {
        std::function<void(pa_context_state_t)> stateChanged;
        std::function<void()> serverChanged;  // the server's defaults changed (default output...)
        // A playback stream came, changed or went (PA_SUBSCRIPTION_EVENT_NEW, _CHANGE, _REMOVE).
        std::function<void(pa_subscription_event_type_t, std::uint32_t index)> playbackChanged;
    };

    explicit PulseConnection(Events events);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Starts connecting without waiting: the loop's thread completes it.
    void BeginConnect();
    // Waits for a ready connection: the one made ahead, or a new one where that failed since.
    // Returns 0 or a capture error code. Without the lock.
    std::uint32_t Connect();
    // Without the lock; nothing of the connection is left after.
    void Disconnect();

    bool Exists() const { return loop_ != nullptr; }
    pa_context* Context() const { return context_; }
    pa_mainloop_api* Api() const { return pa_threaded_mainloop_get_api(loop_); }
    bool Good() const { return context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); }

    // With the lock: waits on the loop until done() holds, the connection fails or the time is
    // up. Returns done().
    bool WaitFor(const std::function<bool()>& done, std::chrono::microseconds timeout);
    // With the lock: runs a request to the server and waits for its answer. False on timeout or
    // failure.
    bool Complete(pa_operation* op, std::chrono::microseconds timeout = kCommandTimeout);
    // Wakes whoever waits.
    void Signal();
    // The server's own words for its last error, to standard error with what failed.
    void Trace(const char* what) const;

    class Lock {
    public:
        explicit Lock(PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

private:
    static void ContextState(pa_context* c, void* self);

    Events events_;
    pa_threaded_mainloop* loop_ = nullptr;  // set and cleared on the thread that owns the capture
    pa_context* context_ = nullptr;
};

}  // namespace larkspur
