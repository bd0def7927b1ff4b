// Global shortcuts through the xdg desktop portal. The watch has a private bus connection and a
// thread of its own that alone uses it, so nothing depends on the program's event loop. The
// portal answers each call later, with a Response signal on a request object whose path follows
// from our bus name and a token of ours; every step below therefore runs from a handler.
#include "kbtap/watch.h"

#include "kbtap/display.h"

#include <X11/Xlib.h>
#include <dbus/dbus.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kbtap/kbtap.h"
#include "kbtap/keys.h"
#include "kbtap/report.h"
#include "platform/keymap.h"

namespace kbtap {
namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kShortcutsInterface[] = "org.freedesktop.portal.GlobalShortcuts";
constexpr char kSessionInterface[] = "org.freedesktop.portal.Session";
constexpr char kRequestInterface[] = "org.freedesktop.portal.Request";
constexpr char kAppId[] = "org.larkspur.Larkspur";  // the name of our desktop file
// Start-up waits this long at most for the portal to say whether it has global shortcuts.
constexpr int kProbeMs = 1500;
constexpr int kNotifyMs = 1000;

// The entries bound as shortcuts: ids that stay the same from run to run, so the desktop keeps
// the keys the user gave them.
struct Shortcut {
    const char* id;
    const char* description;
};
constexpr std::array<Shortcut, 2> kShortcuts{{{"record-pause", "Record / Pause"}, {"stop", "Stop"}}};
constexpr uint8_t kDeletedKey = 255;

// One shortcut as the current session has it.
struct Binding {
    bool bound = false;
    uint8_t vk = 0, modifiers = 0;
    std::string asked, granted;
};

using ReplyHandler = std::function<void(DBusMessage* reply)>;  // reply is null on failure

struct Watch {
    DBusConnection* bus = nullptr;
    Display* display = nullptr;
    Window target = 0;
    Atom type = None;
    int wake = -1;
    std::thread thread;

    std::mutex lock;  // guards these three, shared with the API
    bool stop = false;
    bool relist = false;
    KeyList list;

    // The watch thread's own.
    enum class Step { Idle, Creating, Binding, Gone } step = Step::Idle;
    bool disconnected = false;  // from the bus itself: nothing comes back
    bool rebind = false;      // a newer list waits for the step in flight to finish
    std::string requests;     // request path prefix of our connection
    std::string request;      // the request whose Response is awaited
    std::string session;
    unsigned tokens = 0;
    std::array<Binding, kShortcuts.size()> bindings;
};

std::atomic<bool> told_x_only{false};

bool OnWayland() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return (type && std::strcmp(type, "wayland") == 0) || (display && *display);
}

// ---- message reading and writing

std::string StringAt(DBusMessageIter* it) {
    const int type = dbus_message_iter_get_arg_type(it);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) return {};
    const char* text = nullptr;
    dbus_message_iter_get_basic(it, &text);
    return text ? text : "";
}

// Calls `each` with every key of the a{sv} at `dict` and its variant's content.
void ForEachEntry(DBusMessageIter* dict,
                  const std::function<void(const std::string&, DBusMessageIter*)>& each) {
    if (dbus_message_iter_get_arg_type(dict) != DBUS_TYPE_ARRAY) return;
    DBusMessageIter entry;
    dbus_message_iter_recurse(dict, &entry);
    for (; dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_DICT_ENTRY; dbus_message_iter_next(&entry)) {
        DBusMessageIter field, value;
        dbus_message_iter_recurse(&entry, &field);
        const std::string key = StringAt(&field);
        if (!dbus_message_iter_next(&field) || dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_VARIANT)
            continue;
        dbus_message_iter_recurse(&field, &value);
        each(key, &value);
    }
}

// The a(sa{sv}) of shortcuts at `it`: id -> trigger description ("" where it has none).
std::map<std::string, std::string> ShortcutsAt(DBusMessageIter* it) {
    std::map<std::string, std::string> found;
    if (dbus_message_iter_get_arg_type(it) != DBUS_TYPE_ARRAY) return found;
    DBusMessageIter item;
    dbus_message_iter_recurse(it, &item);
    for (; dbus_message_iter_get_arg_type(&item) == DBUS_TYPE_STRUCT; dbus_message_iter_next(&item)) {
        DBusMessageIter field;
        dbus_message_iter_recurse(&item, &field);
        std::string& trigger = found[StringAt(&field)];
        if (dbus_message_iter_next(&field))
            ForEachEntry(&field, [&](const std::string& key, DBusMessageIter* value) {
                if (key == "trigger_description") trigger = StringAt(value);
            });
    }
    return found;
}

void AppendString(DBusMessageIter* it, const std::string& text) {
    const char* data = text.c_str();
    dbus_message_iter_append_basic(it, DBUS_TYPE_STRING, &data);
}

// An a{sv} whose values are all strings.
void AppendOptions(DBusMessageIter* it, const std::vector<std::pair<std::string, std::string>>& options) {
    DBusMessageIter dict, entry, variant;
    dbus_message_iter_open_container(it, DBUS_TYPE_ARRAY, "{sv}", &dict);
    for (const auto& [key, value] : options) {
        dbus_message_iter_open_container(&dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
        AppendString(&entry, key);
        dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant);
        AppendString(&variant, value);
        dbus_message_iter_close_container(&entry, &variant);
        dbus_message_iter_close_container(&dict, &entry);
    }
    dbus_message_iter_close_container(it, &dict);
}

// A message held: unreferenced when it goes.
struct Unref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, Unref>;

Message PortalCall(const char* path, const char* interface, const char* method) {
    return Message(dbus_message_new_method_call(kPortal, path, interface, method));
}

// Sends and waits for the answer: null where none came (error says why, where given).
Message SendAndWait(DBusConnection* bus, const Message& message, int timeoutMs, DBusError* error) {
    return Message(dbus_connection_send_with_reply_and_block(bus, message.get(), timeoutMs, error));
}

// ---- telling the user

Message NotifyMessage(const std::string& body) {
    Message message(dbus_message_new_method_call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                 "org.freedesktop.Notifications", "Notify"));
    DBusMessageIter it, actions;
    dbus_message_iter_init_append(message.get(), &it);
    AppendString(&it, "Larkspur");
    const dbus_uint32_t replaces = 0;
    dbus_message_iter_append_basic(&it, DBUS_TYPE_UINT32, &replaces);
    AppendString(&it, "larkspur");
    AppendString(&it, "Larkspur hotkeys");
    AppendString(&it, body);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &actions);
    dbus_message_iter_close_container(&it, &actions);
    AppendOptions(&it, {});
    const dbus_int32_t expire = -1;
    dbus_message_iter_append_basic(&it, DBUS_TYPE_INT32, &expire);
    return message;
}

// Without a notification service the message still reaches whoever reads the program's output.
void TellOnTerminal(const std::string& text) { std::fprintf(stderr, "Larkspur hotkeys: %s\n", text.c_str()); }

bool Failed(DBusMessage* reply) { return !reply || dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR; }

// Waits for the answer; for the moment before any watch runs.
void TellNow(DBusConnection* bus, const std::string& text) {
    if (!bus || !SendAndWait(bus, NotifyMessage(text), kNotifyMs, nullptr)) TellOnTerminal(text);
}

// ---- the watch thread

void OnReply(DBusPendingCall* pending, void* data) {
    const Message reply(dbus_pending_call_steal_reply(pending));
    (*static_cast<ReplyHandler*>(data))(Failed(reply.get()) ? nullptr : reply.get());
}

void Call(Watch& watch, const Message& message, ReplyHandler done) {
    DBusPendingCall* pending = nullptr;
    const bool sent = dbus_connection_send_with_reply(watch.bus, message.get(), &pending, DBUS_TIMEOUT_INFINITE);
    if (!sent || !pending) {
        done(nullptr);
        return;
    }
    dbus_pending_call_set_notify(pending, OnReply, new ReplyHandler(std::move(done)),
                                 [](void* data) { delete static_cast<ReplyHandler*>(data); });
    dbus_pending_call_unref(pending);
}

void Tell(Watch& watch, const std::string& text) {
    Call(watch, NotifyMessage(text), [text](DBusMessage* reply) {
        if (!reply) TellOnTerminal(text);
    });
}

// The desktop's trigger format for a key: "CTRL+ALT+SHIFT+" as held, then the key's keysym name.
std::string Trigger(uint8_t vk, uint8_t modifiers) {
    const char* name = XKeysymToString(larkspur::KeysymFromVirtualKey(vk));
    if (!name) return {};
    std::string trigger;
    if (modifiers & KBTAP_CTRL) trigger += "CTRL+";
    if (modifiers & KBTAP_ALT) trigger += "ALT+";
    if (modifiers & KBTAP_SHIFT) trigger += "SHIFT+";
    return trigger + name;
}

// Desktops write a trigger their own way ("Ctrl+R" for "CTRL+r"): compare the parts, not the text.
std::string Canonical(const std::string& trigger) {
    std::vector<std::string> parts(1);
    for (const char c : trigger) {
        if (c == '+') parts.emplace_back();
        else if (c != ' ') parts.back() += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (std::string& part : parts)
        if (part == "CONTROL") part = "CTRL";
    std::sort(parts.begin(), parts.end());
    std::string joined;
    for (const std::string& part : parts) joined += part + "+";
    return joined;
}

void TellKeys(Watch& watch) {
    std::string text;
    for (size_t i = 0; i < kShortcuts.size(); ++i) {
        const Binding& binding = watch.bindings[i];
        if (!binding.bound) continue;
        if (!text.empty()) text += ", ";
        text += kShortcuts[i].description;
        text += binding.granted.empty() ? " has no key" : " is " + binding.granted;
    }
    Tell(watch, text + ". Change them in the desktop's keyboard settings.");
}

void CloseSession(Watch& watch) {
    const Message message = PortalCall(watch.session.c_str(), kSessionInterface, "Close");
    dbus_message_set_no_reply(message.get(), TRUE);
    dbus_connection_send(watch.bus, message.get(), nullptr);
    watch.session.clear();
}

// The portal or our bus connection is gone: nothing is reported any more.
void Lost(Watch& watch) {
    if (watch.step == Watch::Step::Gone) return;
    watch.step = Watch::Step::Gone;
    watch.session.clear();
    watch.request.clear();
    TellOnTerminal("the desktop portal has gone; the hotkeys work again when it is back.");
}

// A new token; its request's Response is the one awaited from now on.
void AwaitRequest(Watch& watch, std::string& token) {
    // Not std::to_string: its digit table is a unique symbol, which would keep the library
    // loaded after dlclose.
    char number[16];
    std::snprintf(number, sizeof number, "%u", ++watch.tokens);
    token = std::string("larkspur") + number;
    watch.request = watch.requests + token;
}

// A bind that came to nothing leaves every entry without a key.
void Finish(Watch& watch, const std::map<std::string, std::string>& granted) {
    watch.step = Watch::Step::Idle;
    watch.request.clear();
    bool differs = false;
    for (size_t i = 0; i < kShortcuts.size(); ++i) {
        Binding& binding = watch.bindings[i];
        if (!binding.bound) continue;
        const auto found = granted.find(kShortcuts[i].id);
        binding.granted = found == granted.end() ? "" : found->second;
        differs |= binding.granted.empty() || Canonical(binding.granted) != Canonical(binding.asked);
    }
    // A newer list replaces this bind at once; it will tell for itself.
    if (differs && !watch.rebind) TellKeys(watch);
}

void BindShortcuts(Watch& watch) {
    std::string token;
    AwaitRequest(watch, token);
    const Message message = PortalCall(kPortalPath, kShortcutsInterface, "BindShortcuts");
    DBusMessageIter it, array, item;
    dbus_message_iter_init_append(message.get(), &it);
    const char* session = watch.session.c_str();
    dbus_message_iter_append_basic(&it, DBUS_TYPE_OBJECT_PATH, &session);
    dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "(sa{sv})", &array);
    for (size_t i = 0; i < kShortcuts.size(); ++i) {
        const Binding& binding = watch.bindings[i];
        if (!binding.bound) continue;
        dbus_message_iter_open_container(&array, DBUS_TYPE_STRUCT, nullptr, &item);
        AppendString(&item, kShortcuts[i].id);
        std::vector<std::pair<std::string, std::string>> options{{"description", kShortcuts[i].description}};
        if (!binding.asked.empty()) options.emplace_back("preferred_trigger", binding.asked);
        AppendOptions(&item, options);
        dbus_message_iter_close_container(&array, &item);
    }
    dbus_message_iter_close_container(&it, &array);
    AppendString(&it, "");  // no parent window: ours is an X window the portal cannot name
    AppendOptions(&it, {{"handle_token", token}});
    watch.step = Watch::Step::Binding;
    Call(watch, message, [&watch](DBusMessage* reply) {
        if (!reply && watch.step == Watch::Step::Binding) Finish(watch, {});
    });
}

// Entries 0 and 1 of the newest list, each in a session of its own: a session takes one bind.
void Bind(Watch& watch) {
    if (!watch.session.empty()) CloseSession(watch);
    KeyList list;
    {
        std::lock_guard lock(watch.lock);
        list = watch.list;
    }
    bool any = false;
    for (size_t i = 0; i < kShortcuts.size(); ++i) {
        Binding& binding = watch.bindings[i] = {};
        if (i >= list.keys.size() || list.keys[i] == 0 || list.keys[i] == kDeletedKey) continue;
        binding = {true, list.keys[i], list.modifiers[i], Trigger(list.keys[i], list.modifiers[i]), {}};
        any = true;
    }
    if (!any) return;
    std::string token;
    AwaitRequest(watch, token);
    const Message message = PortalCall(kPortalPath, kShortcutsInterface, "CreateSession");
    DBusMessageIter it;
    dbus_message_iter_init_append(message.get(), &it);
    AppendOptions(&it, {{"handle_token", token}, {"session_handle_token", token}});
    watch.step = Watch::Step::Creating;
    Call(watch, message, [&watch](DBusMessage* reply) {
        if (!reply && watch.step == Watch::Step::Creating) Finish(watch, {});
    });
}

void OnResponse(Watch& watch, DBusMessage* message) {
    DBusMessageIter it;
    dbus_uint32_t code = 2;
    if (dbus_message_iter_init(message, &it) && dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_UINT32)
        dbus_message_iter_get_basic(&it, &code);
    std::string session;
    std::map<std::string, std::string> granted;
    if (code == 0 && dbus_message_iter_next(&it))
        ForEachEntry(&it, [&](const std::string& key, DBusMessageIter* value) {
            if (key == "session_handle") session = StringAt(value);  // a string, not a path, in 1.16
            if (key == "shortcuts") granted = ShortcutsAt(value);
        });
    // libdbus ends the process on a malformed path; a portal's answer is not trusted with that.
    if (!dbus_validate_path(session.c_str(), nullptr)) session.clear();
    if (watch.step == Watch::Step::Creating && !session.empty()) {
        watch.session = session;
        BindShortcuts(watch);
    } else {
        Finish(watch, code == 0 ? granted : std::map<std::string, std::string>{});
    }
}

void Report(Watch& watch, const std::string& id, bool press) {
    for (size_t i = 0; i < kShortcuts.size(); ++i) {
        const Binding& binding = watch.bindings[i];
        if (id != kShortcuts[i].id || !binding.bound) continue;
        // The scan code of the key on our keyboard map, as the RECORD watch reports it.
        const KeyCode keycode = XKeysymToKeycode(watch.display, larkspur::KeysymFromVirtualKey(binding.vk));
        const uint32_t flags = KeyFlags(press, ScanCodeFromKeycode(keycode), binding.modifiers);
        SendReport(watch.display, watch.target, watch.type, binding.vk, flags, binding.modifiers, 0);
        XSync(watch.display, False);  // takes the error of a window that is gone now, not later
    }
}

// The call was not answered in time (as against answered with an error).
bool Unanswered(const DBusError& error) {
    return dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY) || dbus_error_has_name(&error, DBUS_ERROR_TIMEOUT);
}

// Portals from 1.21 on know a program outside a sandbox only by the app id it registers, before
// any other call on the connection; older ones have no registry and answer with an error, which
// changes nothing. False where nothing answered in time.
bool Register(DBusConnection* bus) {
    const Message message = PortalCall(kPortalPath, "org.freedesktop.host.portal.Registry", "Register");
    DBusMessageIter it;
    dbus_message_iter_init_append(message.get(), &it);
    AppendString(&it, kAppId);
    AppendOptions(&it, {});
    DBusError error;
    dbus_error_init(&error);
    SendAndWait(bus, message, kProbeMs, &error);
    const bool answered = !Unanswered(error);
    dbus_error_free(&error);
    return answered;
}

DBusHandlerResult OnSignal(DBusConnection*, DBusMessage* message, void* data) {
    Watch& watch = *static_cast<Watch*>(data);
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL) return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    if (dbus_message_is_signal(message, DBUS_INTERFACE_LOCAL, "Disconnected")) {
        Lost(watch);
        watch.disconnected = true;
    } else if (dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged")) {
        const char *name = nullptr, *before = nullptr, *after = nullptr;
        if (dbus_message_get_args(message, nullptr, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &before,
                                  DBUS_TYPE_STRING, &after, DBUS_TYPE_INVALID) &&
            std::strcmp(name, kPortal) == 0) {
            if (!*after) {
                Lost(watch);
            } else if (watch.step == Watch::Step::Gone && !watch.disconnected) {
                // A portal started anew knows nothing of us: register and bind again.
                Register(watch.bus);
                watch.step = Watch::Step::Idle;
                watch.rebind = true;
            }
        }
    } else if (watch.step == Watch::Step::Gone) {
        // Nothing of the portal counts any more.
    } else if (dbus_message_is_signal(message, kRequestInterface, "Response")) {
        if (!watch.request.empty() && watch.request == dbus_message_get_path(message)) OnResponse(watch, message);
    } else if (dbus_message_is_signal(message, kSessionInterface, "Closed")) {
        if (watch.session == dbus_message_get_path(message)) watch.session.clear();
    } else if (dbus_message_has_interface(message, kShortcutsInterface)) {
        // These go to every client of the portal: only our session's count.
        DBusMessageIter it;
        if (!dbus_message_iter_init(message, &it) || watch.session.empty() || StringAt(&it) != watch.session ||
            !dbus_message_iter_next(&it))
            return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
        const char* member = dbus_message_get_member(message);
        if (std::strcmp(member, "Activated") == 0 || std::strcmp(member, "Deactivated") == 0) {
            Report(watch, StringAt(&it), member[0] == 'A');
        } else if (std::strcmp(member, "ShortcutsChanged") == 0) {
            for (const auto& [id, trigger] : ShortcutsAt(&it))
                for (size_t i = 0; i < kShortcuts.size(); ++i)
                    if (id == kShortcuts[i].id) watch.bindings[i].granted = trigger;
            TellKeys(watch);
        }
    }
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

void Subscribe(Watch& watch) {
    std::string unique = dbus_bus_get_unique_name(watch.bus) + 1;  // ":1.17" -> "1_17"
    std::replace(unique.begin(), unique.end(), '.', '_');
    watch.requests = std::string(kPortalPath) + "/request/" + unique + "/";
    const std::string portal = std::string("type='signal',sender='") + kPortal + "',";
    // Without an error to fill, these go out without waiting; the bus takes them in order, so
    // they are in place before any call of ours reaches the portal.
    const std::string rules[] = {
        portal + "interface='" + kRequestInterface + "',member='Response',path_namespace='" +
            watch.requests.substr(0, watch.requests.size() - 1) + "'",
        portal + "interface='" + kShortcutsInterface + "',path='" + kPortalPath + "'",
        portal + "interface='" + kSessionInterface + "',member='Closed'",
        std::string("type='signal',sender='") + DBUS_SERVICE_DBUS + "',interface='" + DBUS_INTERFACE_DBUS +
            "',member='NameOwnerChanged',arg0='" + kPortal + "'"};
    for (const std::string& rule : rules) dbus_bus_add_match(watch.bus, rule.c_str(), nullptr);
}

void Run(Watch& watch) {
    dbus_connection_add_filter(watch.bus, OnSignal, &watch, nullptr);
    Subscribe(watch);
    for (;;) {
        {
            std::lock_guard lock(watch.lock);
            if (watch.stop) break;
            if (watch.relist) watch.rebind = true;
            watch.relist = false;
        }
        while (dbus_connection_dispatch(watch.bus) == DBUS_DISPATCH_DATA_REMAINS) {}
        if (watch.rebind && watch.step == Watch::Step::Idle) {
            watch.rebind = false;
            Bind(watch);
        }
        const bool connected = dbus_connection_get_is_connected(watch.bus);
        if (connected) dbus_connection_flush(watch.bus);
        if (dbus_connection_get_dispatch_status(watch.bus) == DBUS_DISPATCH_DATA_REMAINS) continue;
        pollfd fds[2] = {{watch.wake, POLLIN, 0}, {-1, POLLIN, 0}};
        int fd = -1;
        if (connected && dbus_connection_get_unix_fd(watch.bus, &fd)) fds[1].fd = fd;
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(watch.wake, &count, sizeof count);
        }
        // Reads what came in; a connection that dropped becomes disconnected here.
        if (fds[1].revents) dbus_connection_read_write(watch.bus, 0);
    }
    if (!watch.session.empty() && watch.step != Watch::Step::Gone && dbus_connection_get_is_connected(watch.bus)) {
        CloseSession(watch);
        dbus_connection_flush(watch.bus);
    }
}

void Wake(Watch& watch) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(watch.wake, &one, sizeof one);
}

void CloseBus(DBusConnection* bus) {
    if (!bus) return;
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
}

const char kNoAnswer[] = "the desktop portal did not answer in time";

// Why the portal's global shortcuts cannot be used; empty where they can.
std::string ShortcutsMissing(DBusConnection* bus) {
    if (!bus) return "there is no session bus";
    const Message message = PortalCall(kPortalPath, DBUS_INTERFACE_PROPERTIES, "Get");
    DBusMessageIter it;
    dbus_message_iter_init_append(message.get(), &it);
    AppendString(&it, kShortcutsInterface);
    AppendString(&it, "version");
    DBusError error;
    dbus_error_init(&error);
    const Message reply = SendAndWait(bus, message, kProbeMs, &error);
    std::string missing;
    // A portal starting at login may take longer than start-up can wait.
    if (!reply) missing = Unanswered(error) ? kNoAnswer : "this desktop offers no global shortcuts";
    dbus_error_free(&error);
    return missing;
}

void StopWatch(Watch* watch) {
    {
        std::lock_guard lock(watch->lock);
        watch->stop = true;
    }
    Wake(*watch);
    watch->thread.join();
    CloseBus(watch->bus);
    kbtap::CloseOwnDisplay(watch->display);
    close(watch->wake);
    delete watch;
}

class PortalWatch final : public KeyWatch {
public:
    explicit PortalWatch(Watch* watch) : watch_(watch) {}
    ~PortalWatch() override { StopWatch(watch_); }

    // The running watch binds the list's entries anew in a new session.
    void SetList(const KeyList& list) override {
        {
            std::lock_guard lock(watch_->lock);
            watch_->list = list;
            watch_->relist = true;
        }
        Wake(*watch_);
    }

private:
    Watch* watch_;
};

}  // namespace

std::unique_ptr<KeyWatch> StartPortalWatch(unsigned long window, const KeyList& list) {
    if (!OnWayland()) return nullptr;
    // Without an X display there is no way to report to the program's window.
    Display* display = kbtap::OpenOwnDisplay();
    if (!display) return nullptr;
    dbus_threads_init_default();
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    // A lost bus must leave the program running.
    if (bus) dbus_connection_set_exit_on_disconnect(bus, FALSE);
    // A portal that does not answer the first call is not asked again: start-up waits for it.
    const bool answers = !bus || Register(bus);
    const int wake = bus ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    const std::string missing = !answers      ? std::string(kNoAnswer)
                                : bus && wake < 0 ? std::string("no wake-up could be made")
                                                  : ShortcutsMissing(bus);
    if (!missing.empty()) {
        if (wake >= 0) close(wake);
        if (!told_x_only.exchange(true))
            TellNow(bus, missing + ", so the hotkeys work only while an X program has the focus.");
        CloseBus(bus);
        kbtap::CloseOwnDisplay(display);
        return nullptr;
    }
    auto* watch = new Watch;
    watch->bus = bus;
    watch->display = display;
    watch->target = window;
    watch->type = XInternAtom(display, KBTAP_MESSAGE_ATOM, False);
    watch->wake = wake;
    watch->list = list;
    watch->relist = true;
    watch->thread = std::thread(Run, std::ref(*watch));
    return std::make_unique<PortalWatch>(watch);
}

}  // namespace kbtap
