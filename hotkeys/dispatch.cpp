#include "hotkeys/dispatch.h"

#include <algorithm>

#include "hotkeys/hotkey_table.h"

namespace larkspur {

void HookKeyMessage(HotKeyTarget& target, const THookKeyMessage& message) {
    // Record/Pause now would start a recording into the file that is being finished.
    if (target.IsFinishing()) return;
    if (message.LParam & (1u << 31)) return;
    // A key a key field took since is matched against the table as it stood before.
    const HotKeyTableCopy* before = TableBeforeKey(message.Time);
    const uint8_t* keys = before ? before->keys : HotKeyCodes;
    const uint8_t* modifiers = before ? before->modifiers : CASKeyCodes;
    const int count = std::min(HotKeyCount, kHotKeyCapacity);
    for (int i = 0; i < count; ++i) {
        if (message.Modifiers == modifiers[i] && message.WParam == keys[i]) {
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
