#include "kbtap/report.h"

#include "kbtap/kbtap.h"

namespace kbtap {

uint32_t KeyFlags(bool press, uint16_t scan, uint8_t modifiers) {
    uint32_t flags = 1u | (uint32_t{scan & 0xFFu} << 16);
    if (scan & 0x100) flags |= 1u << 24;
    if (modifiers & KBTAP_ALT) flags |= 1u << 29;
    if (!press) flags |= (1u << 30) | (1u << 31);
    return flags;
}

void SendReport(Display* display, Window target, Atom type, uint8_t vk, uint32_t flags,
                uint8_t modifiers, Time time) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = target;
    message.xclient.message_type = type;
    message.xclient.format = 32;
    message.xclient.data.l[0] = KBTAP_WM_HOOKKEY;
    message.xclient.data.l[1] = vk;
    message.xclient.data.l[2] = static_cast<long>(flags);
    message.xclient.data.l[3] = modifiers;
    message.xclient.data.l[4] = static_cast<long>(time);
    XSendEvent(display, target, False, NoEventMask, &message);
    XFlush(display);
}

}  // namespace kbtap
