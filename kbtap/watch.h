#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// The two ways the library hears the hotkeys, behind one interface that SetHook chooses from at
// run time: the desktop portal's global shortcuts on a Wayland session that offers them, else the
// X RECORD watch. Private to the library; called under its API lock.
namespace kbtap {

// The program's list as SetList handed it over (at most 99 entries).
struct KeyList {
    std::vector<uint8_t> keys, modifiers;
};

class KeyWatch {
public:
    // Stops the watch: its thread has ended on return.
    virtual ~KeyWatch() = default;
    virtual void SetList(const KeyList& list) = 0;
};

// The X RECORD watch reporting to `window`, keys being watched on return; null where the X server
// cannot record.
std::unique_ptr<KeyWatch> StartRecordWatch(unsigned long window, const KeyList& list);

// On a Wayland session whose portal offers GlobalShortcuts, the portal watch reporting to
// `window`. Otherwise null, and on Wayland the user is told once that the hotkeys work only while
// an X program has the focus.
std::unique_ptr<KeyWatch> StartPortalWatch(unsigned long window, const KeyList& list);

}  // namespace kbtap
