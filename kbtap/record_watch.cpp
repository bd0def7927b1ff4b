// The system-wide keyboard watch. The X RECORD extension copies every key event of the server to
// us without grabbing anything, so the focused program still gets its keys. One connection
// ("data") sits inside XRecordEnableContext on the watch thread; the other ("control") creates and
// disables the context, looks up key symbols and sends the reports. Only keys of the program's
// list are forwarded; nothing is kept.
#include "kbtap/kbtap.h"
#include "kbtap/watch.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

#include <array>
#include <atomic>
#include <bitset>
#include <future>
#include <mutex>
#include <thread>

#include "kbtap/display.h"
#include "kbtap/keys.h"
#include "kbtap/report.h"
#include "platform/keymap.h"

namespace {

struct Watch {
    Display* control = nullptr;
    Display* data = nullptr;
    XRecordContext context = 0;
    Window target = 0;
    Atom message_type = None;
    std::mutex control_lock;   // the control connection is used from both threads
    std::bitset<256> held;     // keys down, to drop the server's auto-repeat; watch thread only
    // Another client's keyboard grab (a screen locker's), learnt from its requests and the
    // server's answer, since asking the server would take a grab of our own; watch thread only.
    XID asking = 0;   // the client whose GrabKeyboard has not been answered yet
    XID grabber = 0;  // the client holding the keyboard
    std::promise<void> started;  // set once the server records for us, or the watch failed
    bool signalled = false;      // watch thread only
    std::thread thread;
    // The keys of the list last handed over: no other keystroke leaves the watch thread.
    std::array<std::atomic<bool>, 256> listed{};
    std::atomic<bool> anyListed{false};
};

uint8_t ModifiersOf(unsigned state) {
    uint8_t mods = 0;
    if (state & ControlMask) mods |= KBTAP_CTRL;
    if (state & Mod1Mask) mods |= KBTAP_ALT;
    if (state & ShiftMask) mods |= KBTAP_SHIFT;
    return mods;
}

void Report(Watch& watch, bool press, unsigned keycode, unsigned state, Time time) {
    if (!watch.anyListed) return;
    std::lock_guard lock(watch.control_lock);
    // The server's notices of mapping changes pile up unread otherwise; the key map itself is
    // read anew for each key.
    while (XPending(watch.control)) {
        XEvent event;
        XNextEvent(watch.control, &event);
    }
    const uint8_t vk = larkspur::VirtualKeyOfKey(watch.control, keycode, state);
    if (vk == 0 || !watch.listed[vk].load()) return;
    const uint8_t mods = ModifiersOf(state);
    const uint32_t flags = kbtap::KeyFlags(press, kbtap::ScanCodeFromKeycode(keycode), mods);
    kbtap::SendReport(watch.control, watch.target, watch.message_type, vk, flags, mods, time);
}

void OnRecord(XPointer closure, XRecordInterceptData* record) {
    Watch& watch = *reinterpret_cast<Watch*>(closure);
    if (record->category == XRecordStartOfData && !watch.signalled) {
        watch.signalled = true;
        watch.started.set_value();
    }
    if (record->category == XRecordFromClient) {
        const auto* request = reinterpret_cast<const xReq*>(record->data);
        if (request->reqType == X_GrabKeyboard) watch.asking = record->id_base;
        if (request->reqType == X_UngrabKeyboard && watch.grabber == record->id_base) watch.grabber = 0;
    }
    if (record->category == XRecordClientDied) {
        if (watch.grabber == record->id_base) watch.grabber = 0;
        if (watch.asking == record->id_base) watch.asking = 0;
    }
    // The only replies recorded are those to GrabKeyboard.
    if (record->category == XRecordFromServer && record->data_len * 4 >= sizeof(xGrabKeyboardReply) &&
        reinterpret_cast<const xGenericReply*>(record->data)->type == X_Reply) {
        if (watch.asking == record->id_base &&
            reinterpret_cast<const xGrabKeyboardReply*>(record->data)->status == GrabSuccess)
            watch.grabber = record->id_base;
        watch.asking = 0;
    } else if (record->category == XRecordFromServer && record->data_len * 4 >= sizeof(xEvent)) {
        const auto* event = reinterpret_cast<const xEvent*>(record->data);
        const int type = event->u.u.type & 0x7F;
        const unsigned keycode = event->u.u.detail;
        const unsigned state = event->u.keyButtonPointer.state;
        const Time time = event->u.keyButtonPointer.time;
        // While another client holds the keyboard, what is typed is its own (a password).
        if (type == KeyPress && !watch.held.test(keycode)) {
            watch.held.set(keycode);
            if (!watch.grabber) Report(watch, true, keycode, state, time);
        } else if (type == KeyRelease && watch.held.test(keycode)) {
            watch.held.reset(keycode);
            if (!watch.grabber) Report(watch, false, keycode, state, time);
        }
    }
    XRecordFreeData(record);
}

void CloseWatch(Watch* watch) {
    if (watch->context && !kbtap::IsDead(watch->control)) XRecordFreeContext(watch->control, watch->context);
    kbtap::CloseOwnDisplay(watch->data);
    kbtap::CloseOwnDisplay(watch->control);
    delete watch;
}

void StopWatch(Watch* watch) {
    {
        std::lock_guard lock(watch->control_lock);
        // A lost server has ended the watch already.
        if (!kbtap::IsDead(watch->control)) {
            XRecordDisableContext(watch->control, watch->context);
            XFlush(watch->control);
        }
    }
    watch->thread.join();
    CloseWatch(watch);
}

void List(Watch& watch, const kbtap::KeyList& list) {
    std::bitset<256> now;
    for (const uint8_t vk : list.keys)
        if (vk != 0 && vk != 255) now.set(vk);
    for (std::size_t vk = 0; vk < watch.listed.size(); ++vk) watch.listed[vk] = now.test(vk);
    watch.anyListed = now.any();
}

Watch* StartWatch(Window target, const kbtap::KeyList& list) {
    auto* watch = new Watch;
    watch->target = target;
    watch->control = kbtap::OpenOwnDisplay();
    if (watch->control) watch->data = kbtap::OpenOwnDisplay();
    int major = 0, minor = 0;
    if (!watch->data || !XRecordQueryVersion(watch->control, &major, &minor)) {
        CloseWatch(watch);
        return nullptr;
    }
    watch->message_type = XInternAtom(watch->control, KBTAP_MESSAGE_ATOM, False);
    List(*watch, list);
    XRecordRange* range = XRecordAllocRange();
    if (range) {
        range->device_events.first = KeyPress;
        range->device_events.last = KeyRelease;
        range->core_requests.first = X_GrabKeyboard;
        range->core_requests.last = X_UngrabKeyboard;
        range->core_replies.first = X_GrabKeyboard;
        range->core_replies.last = X_GrabKeyboard;
        range->client_died = True;
        XRecordClientSpec clients = XRecordAllClients;
        watch->context = XRecordCreateContext(watch->control, 0, &clients, 1, &range, 1);
        XFree(range);
    }
    if (!watch->context) {
        CloseWatch(watch);
        return nullptr;
    }
    // The data connection must see the context before it can enable it.
    XSync(watch->control, False);
    // SetHook returns once keys are being watched, so none typed after it is missed.
    std::future<void> started = watch->started.get_future();
    watch->thread = std::thread([watch] {
        XRecordEnableContext(watch->data, watch->context, OnRecord, reinterpret_cast<XPointer>(watch));
        if (!watch->signalled) watch->started.set_value();
    });
    started.wait();
    return watch;
}

class RecordWatch final : public kbtap::KeyWatch {
public:
    explicit RecordWatch(Watch* watch) : watch_(watch) {}
    ~RecordWatch() override { StopWatch(watch_); }
    void SetList(const kbtap::KeyList& list) override { List(*watch_, list); }

private:
    Watch* watch_;
};

}  // namespace

std::unique_ptr<kbtap::KeyWatch> kbtap::StartRecordWatch(unsigned long window, const KeyList& list) {
    Watch* watch = StartWatch(window, list);
    return watch ? std::make_unique<RecordWatch>(watch) : nullptr;
}
