#include "audio/pulse_connection.h"

#include "audio/capture_device.h"

#include <cstdio>

namespace larkspur {

PulseConnection::PulseConnection(Events events) : events_(std::move(events)) {}

PulseConnection::~PulseConnection() { Disconnect(); }

void PulseConnection::BeginConnect() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return;
    pa_threaded_mainloop_set_name(loop_, "larkspur-capture");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Larkspur");
    if (context_) pa_context_set_state_callback(context_, ContextState, this);
    const bool started = context_ && pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                         pa_threaded_mainloop_start(loop_) >= 0;
    if (!started) {
        if (context_) Trace("connecting");
        Disconnect();
    }
}

std::uint32_t PulseConnection::Connect() {
    if (loop_) {
        bool good;
        {
            Lock lock(*this);
            good = Good();
        }
        if (!good) Disconnect();
    }
    if (!loop_) BeginConnect();
    if (!loop_) return kCaptureNoServer;
    Lock lock(*this);
    if (WaitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; }, kConnectTimeout))
        return kCaptureOk;
    Trace("connecting");
    return Good() ? kCaptureServerTimeout : kCaptureNoServer;
}

void PulseConnection::ContextState(pa_context* c, void* self) {
    auto* connection = static_cast<PulseConnection*>(self);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_FAILED) connection->Trace("the connection");
    // Every change of the server's defaults, and of the programs playing, is heard of from now on.
    if (state == PA_CONTEXT_READY) {
        pa_context_set_subscribe_callback(
            c,
            [](pa_context*, pa_subscription_event_type_t type, uint32_t index, void* self) {
                const Events& events = static_cast<PulseConnection*>(self)->events_;
                const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                if (facility == PA_SUBSCRIPTION_EVENT_SERVER && events.serverChanged) events.serverChanged();
                if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && events.playbackChanged)
                    events.playbackChanged(pa_subscription_event_type_t(type & PA_SUBSCRIPTION_EVENT_TYPE_MASK),
                                           index);
            },
            self);
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK_INPUT);
        if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr)) pa_operation_unref(op);
    }
    if (connection->events_.stateChanged) connection->events_.stateChanged(state);
    connection->Signal();
}

void PulseConnection::Disconnect() {
    if (!loop_) return;
    {
        Lock lock(*this);
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_set_subscribe_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

bool PulseConnection::WaitFor(const std::function<bool()>& done, std::chrono::microseconds timeout) {
    bool expired = false;
    struct Alarm {
        pa_threaded_mainloop* loop;
        bool* expired;
    } alarm{loop_, &expired};
    pa_time_event* event = pa_context_rttime_new(
        context_, pa_rtclock_now() + timeout.count(),
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* a = static_cast<Alarm*>(data);
            *a->expired = true;
            pa_threaded_mainloop_signal(a->loop, 0);
        },
        &alarm);
    while (!done() && !expired && Good()) pa_threaded_mainloop_wait(loop_);
    pa_threaded_mainloop_get_api(loop_)->time_free(event);
    return done();
}

bool PulseConnection::Complete(pa_operation* op, std::chrono::microseconds timeout) {
    if (!op) return false;
    pa_operation_set_state_callback(
        op, [](pa_operation*, void* self) { static_cast<PulseConnection*>(self)->Signal(); }, this);
    const bool done = WaitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeout);
    if (!done) pa_operation_cancel(op);
    const bool ok = done && pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return ok;
}

void PulseConnection::Signal() {
    if (loop_) pa_threaded_mainloop_signal(loop_, 0);
}

void PulseConnection::Trace(const char* what) const {
    const int code = context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN;
    std::fprintf(stderr, "larkspur: sound server, %s: %s (%d)\n", what, pa_strerror(code), code);
}

}  // namespace larkspur
