#include "hotkeys/dispatch.h"

#include <algorithm>

#include "hotkeys/hotkey_table.h"

namespace larkspur {

void HookKeyMessage(HotKeyTarget& target, const THookKeyMessage& message) {
    // Record/Pause now would start a recording into the file that is being finished.
    if (target.IsFinishing()) return;
    if (message.LParam & (1u << 31)) return;
    const int count = std::min(HotKeyCount, kHotKeyCapacity);
    for (int i = 0; i < count; ++i) {
        if (message.Modifiers == CASKeyCodes[i] && message.WParam == HotKeyCodes[i]) {
            RunHotKeyAction(target, i);
            return;
        }
    }
}

void RunHotKeyAction(HotKeyTarget& target, int index) {
    if (index == 0) {
        if (!target.IsRecording() || target.IsPaused())
            target.ClickRecord();
        else
            target.ClickPause();
    } else if (index == 1 && target.IsRecording()) {
        target.ClickStop();
    }
}

}  // namespace larkspur
