#pragma once
#include <QAbstractNativeEventFilter>
#include <QWidget>
#include <cstdint>
#include <functional>

// WM_HOOKKEY, the key report of the keyboard-hook library, as the main window receives it.
namespace larkspur {

constexpr uint32_t WM_HOOKKEY = 1124;  // WM_USER + 100

struct THookKeyMessage {
    uint32_t Msg = WM_HOOKKEY;
    uint32_t WParam = 0;    // virtual-key code
    uint32_t LParam = 0;    // key-message flags; bit 31 set on release
    uint8_t Modifiers = 0;  // Ctrl 1 + Alt 2 + Shift 4, as held when the key event happened
    uint32_t Time = 0;      // the key event's X server time; 0 where unknown
};

// The X window id of a widget, or 0 when the program does not run on X (no reports can reach it).
WId X11WindowId(QWidget& widget);

// Takes the library's reports for one window out of the X event stream and hands each to the
// handler as a posted event, so it runs between other events in whatever event loop is running (a
// modal dialog's too) and may open dialogs itself. Reports only arrive on the X11 platform.
class HookMessageFilter : public QAbstractNativeEventFilter {
public:
    using Handler = std::function<void(const THookKeyMessage&)>;
    // Installs itself on the application until destroyed.
    HookMessageFilter(WId window, Handler handler);
    ~HookMessageFilter() override;
    HookMessageFilter(const HookMessageFilter&) = delete;
    HookMessageFilter& operator=(const HookMessageFilter&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    WId window_;
    uint32_t atom_ = 0;
    Handler handler_;
    QObject receiver_;  // reports still queued when the filter goes are dropped with it
};

}  // namespace larkspur
