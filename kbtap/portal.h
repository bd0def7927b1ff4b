// Global shortcuts through the desktop portal, for Wayland sessions, where the RECORD watch sees
// only the keys typed into X programs. Private to the library; called under its API lock.
#pragma once
#include <cstdint>

namespace kbtap {

// On a Wayland session whose portal offers GlobalShortcuts, starts the portal watch reporting to
// `window` and returns true. Otherwise returns false, and on Wayland the user is told once that
// the hotkeys work only while an X program has the focus.
bool StartPortalWatch(unsigned long window);

// Keeps a copy of the list (`count` entries, at most 99); a running portal watch binds its
// entries anew in a new session.
void SetPortalList(const uint8_t* keys, const uint8_t* modifiers, int32_t count);

// Ends the portal watch, if one runs: its session is closed and its thread has ended on return.
void StopPortalWatch();

}  // namespace kbtap
