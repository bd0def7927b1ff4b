// A key report to the window given to SetHook, in the form kbtap.h describes; both watches send
// theirs through here. Private to the library.
#pragma once
#include <X11/Xlib.h>
#include <cstdint>

namespace kbtap {

// The key-message flags: one stroke, the scan code (bit 8 of `scan` is the extended-key flag),
// Alt's context bit, and the two release bits.
uint32_t KeyFlags(bool press, uint16_t scan, uint8_t modifiers);

// Sends the report as a ClientMessage of type `type` and flushes it.
void SendReport(Display* display, Window target, Atom type, uint8_t vk, uint32_t flags,
                uint8_t modifiers, Time time);

}  // namespace kbtap
