#include "kbtap/display.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

namespace kbtap {
namespace {

// Read from the handlers, on any thread.
std::array<std::atomic<Display*>, 4> ours{};
std::array<std::atomic<Display*>, 4> dead{};  // those whose connection was lost
std::mutex lock;  // opening and closing
int open_count = 0;
std::atomic<XErrorHandler> previous_error{nullptr};
std::atomic<XIOErrorHandler> previous_io_error{nullptr};

bool Ours(Display* display) {
    return std::any_of(ours.begin(), ours.end(), [display](const auto& d) { return d.load() == display; });
}

int OnError(Display* display, XErrorEvent* error) {
    if (Ours(display)) return 0;
    const XErrorHandler previous = previous_error;
    return previous ? previous(display, error) : 0;
}

int OnIOError(Display* display) {
    // The display's exit handler runs next and returns.
    if (Ours(display)) return 0;
    const XIOErrorHandler previous = previous_io_error;
    return previous ? previous(display) : 0;
}

void OnIOErrorExit(Display* display, void*) {
    for (auto& d : dead) {
        Display* none = nullptr;
        if (d.compare_exchange_strong(none, display)) return;
    }
}

}  // namespace

bool IsDead(Display* display) {
    return std::any_of(dead.begin(), dead.end(), [display](const auto& d) { return d.load() == display; });
}

Display* OpenOwnDisplay() {
    XInitThreads();
    std::lock_guard guard(lock);
    const auto free = std::find(ours.begin(), ours.end(), nullptr);
    if (free == ours.end()) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    XSetIOErrorExitHandler(display, OnIOErrorExit, nullptr);
    *free = display;
    if (open_count++ == 0) {
        previous_error = XSetErrorHandler(OnError);
        previous_io_error = XSetIOErrorHandler(OnIOError);
    }
    return display;
}

void CloseOwnDisplay(Display* display) {
    if (!display) return;
    std::lock_guard guard(lock);
    // Closing a lost connection waits for replies that never come; its memory is left.
    if (!IsDead(display)) XCloseDisplay(display);
    for (auto* list : {&ours, &dead})
        for (auto& d : *list)
            if (d.load() == display) d = nullptr;
    if (--open_count > 0) return;
    // Hand error handling back, unless someone installed handlers after us.
    if (const XErrorHandler now = XSetErrorHandler(previous_error); now != OnError) XSetErrorHandler(now);
    if (const XIOErrorHandler now = XSetIOErrorHandler(previous_io_error); now != OnIOError)
        XSetIOErrorHandler(now);
    previous_error = nullptr;
    previous_io_error = nullptr;
}

}  // namespace kbtap
