#include "hotkeys/hook_message.h"

#include <QGuiApplication>
#include <cstdlib>
#include <xcb/xcb.h>

#include "kbtap/kbtap.h"
#include "platform/error_box.h"

namespace larkspur {
namespace {

uint32_t MessageAtom() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return XCB_ATOM_NONE;
    const char name[] = KBTAP_MESSAGE_ATOM;
    const auto cookie = xcb_intern_atom(connection, 0, sizeof name - 1, name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

WId X11WindowId(QWidget& widget) {
    return QGuiApplication::platformName() == QLatin1String("xcb") ? widget.winId() : 0;
}

HookMessageFilter::HookMessageFilter(WId window, Handler handler)
    : window_(window), atom_(MessageAtom()), handler_(std::move(handler)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

HookMessageFilter::~HookMessageFilter() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool HookMessageFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (atom_ == XCB_ATOM_NONE || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE) return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->type != atom_ || client->window != window_ || client->format != 32 ||
        client->data.data32[0] != KBTAP_WM_HOOKKEY)
        return false;
    THookKeyMessage report;
    report.WParam = client->data.data32[1];
    report.LParam = client->data.data32[2];
    report.Modifiers = static_cast<uint8_t>(client->data.data32[3]);
    report.Time = client->data.data32[4];
    QMetaObject::invokeMethod(
        &receiver_, [this, report] { Guarded([&] { handler_(report); }); }, Qt::QueuedConnection);
    return true;
}

}  // namespace larkspur
