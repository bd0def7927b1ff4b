// The key of a Qt key event, translated as the keyboard watch translates the same X key event.
// Apart from keyboard.cpp, which needs nothing of Qt but its core.
#include <QGuiApplication>
#include <QKeyEvent>

#include "platform/keyboard.h"
#include "platform/keymap.h"

namespace larkspur {

uint8_t VirtualKeyOfKeyEvent(const QKeyEvent& key) {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    // On xcb the native scan code is the X key code and the native modifiers the X state.
    if (x11 && x11->display() && key.nativeScanCode() != 0)
        return VirtualKeyOfKey(x11->display(), key.nativeScanCode(), key.nativeModifiers());
    return VirtualKeyFromQtKey(key.key(), key.modifiers());
}

}  // namespace larkspur
