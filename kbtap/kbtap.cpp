// libkbtap's C interface: SetHook chooses how the hotkeys are heard (kbtap/watch.h), SetList
// hands the program's list to it, RemoveHook ends it.
#include "kbtap/kbtap.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "kbtap/watch.h"

#define KBTAP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Hook {
    std::mutex lock;  // SetHook and RemoveHook may come from any thread
    std::unique_ptr<kbtap::KeyWatch> watch;
    kbtap::KeyList list;  // the last list handed over, for the next watch
};

// Never destroyed: an exit may run on another thread (Xlib's, when the X server went) while the
// program still calls in; StopOnUnload ends the watch instead.
Hook& TheHook() {
    static Hook* hook = new Hook;
    return *hook;
}

// Nothing may leave the C interface as an exception (a thread that cannot be started): the
// program that loaded the library cannot catch it, so the hotkeys stay silent instead.
template <class F>
void Safely(F&& f) noexcept {
    try {
        f();
    } catch (...) {
    }
}

}  // namespace

KBTAP_EXPORT void SetHook(unsigned long window, int32_t) {
    Safely([&] {
        Hook& hook = TheHook();
        std::lock_guard lock(hook.lock);
        hook.watch.reset();
        if (window == 0) return;
        // On Wayland the portal's global shortcuts, where offered, take the RECORD watch's place,
        // so that no key is reported twice.
        hook.watch = kbtap::StartPortalWatch(window, hook.list);
        if (!hook.watch) hook.watch = kbtap::StartRecordWatch(window, hook.list);
    });
}

KBTAP_EXPORT void SetList(const uint8_t* keys, const uint8_t* modifiers, int32_t count) {
    Safely([&] {
        Hook& hook = TheHook();
        std::lock_guard lock(hook.lock);
        count = keys ? std::clamp(count, 0, 99) : 0;
        hook.list.keys.assign(keys, keys + count);
        if (modifiers) hook.list.modifiers.assign(modifiers, modifiers + count);
        else hook.list.modifiers.assign(count, 0);
        if (hook.watch) hook.watch->SetList(hook.list);
    });
}

KBTAP_EXPORT void RemoveHook(void) {
    Safely([&] {
        Hook& hook = TheHook();
        std::lock_guard lock(hook.lock);
        hook.watch.reset();
    });
}

// A program that unloads the library or exits without RemoveHook must not leave the watch thread
// running in unmapped code.
__attribute__((destructor)) static void StopOnUnload() { RemoveHook(); }
