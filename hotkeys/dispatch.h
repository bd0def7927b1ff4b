#pragma once
#include "hotkeys/hook_message.h"

// What a hotkey does: the Record/Pause and Stop entries click the main window's toolbar buttons.
namespace larkspur {

// The main window as the hotkeys see it.
class HotKeyTarget {
public:
    virtual ~HotKeyTarget() = default;
    virtual bool IsRecording() const = 0;
    virtual bool IsPaused() const = 0;
    // While a recording starts (a box about its temporary file) and from Stop until it is
    // finished (Save dialog, conversion): hotkeys are ignored then.
    virtual bool IsFinishing() const = 0;
    // The OnClick handlers of ToolButton1 (Record), ToolButton2 (Pause) and ToolButton3 (Stop).
    virtual void ClickRecord() = 0;
    virtual void ClickPause() = 0;
    virtual void ClickStop() = 0;
};

// Matches a key report against the hotkey table; the first matching entry's action runs. Releases
// never match, and reports are ignored while a recording starts or is being finished.
void HookKeyMessage(HotKeyTarget& target, const THookKeyMessage& message);
// Entry 0 records, pauses or resumes; entry 1 stops a recording; other entries do nothing.
void RunHotKeyAction(HotKeyTarget& target, int index);

}  // namespace larkspur
