// Hotkeys on a Wayland session: the real desktop portal on a private bus, a stand-in for the
// desktop's GlobalShortcuts backend, the program's window on a real X server. The entries are bound
// as shortcuts and their activations reach the window as key reports; where the portal offers no
// shortcuts, the keyboard watch takes over and the user is told what that means.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "hotkeys/hook_message.h"
#include "kbtap/kbtap.h"
#include "support/hotkeys_support.h"
#include "support/dies_with_test.h"
#include "support/kbtap_library.h"

namespace larkspur {
namespace {

using testing::Xdotool;

constexpr uint32_t kRelease = 0xC0000000u;  // bits 30 and 31
constexpr char kDesktop[] = "/org/freedesktop/portal/desktop";

QDBusMessage MockCall(const QString& service, const QString& path, const QString& method,
                      const QVariantList& args = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
    call.setArguments(args);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                        << reply.errorMessage().toStdString();
    return reply;
}

QDBusMessage Backend(const QString& method, const QVariantList& args = {}) {
    return MockCall(qEnvironmentVariable("LARKSPUR_TEST_PORTAL_BACKEND"), kDesktop, method, args);
}

// The bodies of the notifications shown so far.
QStringList Told() {
    const QDBusMessage reply = MockCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                        "GetMethodCalls", {QStringLiteral("Notify")});
    const auto calls = reply.arguments().value(0).value<QDBusArgument>();
    QStringList bodies;
    calls.beginArray();
    while (!calls.atEnd()) {
        qulonglong time;
        QVariantList args;
        calls.beginStructure();
        calls >> time >> args;
        calls.endStructure();
        EXPECT_EQ(args.value(0).toString(), "Larkspur");
        bodies << args.value(4).toString();
    }
    calls.endArray();
    return bodies;
}

// (id, description, preferred trigger) of every shortcut bound in an open session.
using Rows = QList<QStringList>;
Rows Bound() {
    const auto rows = Backend("Bound").arguments().value(0).value<QDBusArgument>();
    Rows found;
    rows.beginArray();
    while (!rows.atEnd()) {
        QString session, id, description, trigger;
        rows.beginStructure();
        rows >> session >> id >> description >> trigger;
        rows.endStructure();
        found << QStringList{id, description, trigger};
    }
    rows.endArray();
    return found;
}

QStringList Sessions(const char* which) {
    QStringList paths;
    for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(Backend(which).arguments().value(0)))
        paths << path.path();
    return paths;
}

class KbtapOnWayland : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_SESSION_TYPE", "wayland", 1);
        setenv("WAYLAND_DISPLAY", "wayland-test", 1);
        ASSERT_TRUE(lib_.SetHook && lib_.SetList && lib_.RemoveHook) << dlerror();
        filter_ = std::make_unique<HookMessageFilter>(
            window_.winId(), [this](const THookKeyMessage& m) { reports_.push_back(m); });
        told_ = Told().size();
    }
    void TearDown() override { lib_.RemoveHook(); }

    void SetList(std::vector<std::pair<uint8_t, uint8_t>> entries) {
        std::vector<uint8_t> keys, modifiers;
        for (const auto& [key, mods] : entries) {
            keys.push_back(key);
            modifiers.push_back(mods);
        }
        lib_.SetList(keys.data(), modifiers.data(), static_cast<int32_t>(entries.size()));
    }
    // Notifications shown since the test began.
    QStringList ToldNow() const { return Told().mid(told_); }

    testing::KbtapLibrary lib_;
    QWidget window_;
    std::unique_ptr<HookMessageFilter> filter_;
    std::vector<THookKeyMessage> reports_;
    qsizetype told_ = 0;
};

using KbtapPortal = KbtapOnWayland;

TEST_F(KbtapPortal, TheEntriesAreBoundAndTheirActivationsReachTheWindow) {
    Backend("ClearGrants");
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}, {0x41, 0}});
    ASSERT_TRUE(QTest::qWaitFor([] {
        return Bound() == Rows{{"record-pause", "Record / Pause", "F12"}, {"stop", "Stop", "F11"}};
    }));

    Backend("Activate", {QStringLiteral("record-pause")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 1; }));
    EXPECT_EQ(reports_[0].WParam, 0x7Bu);
    EXPECT_EQ(reports_[0].LParam, 0x00580001u);  // a press, with F12's scan code
    EXPECT_EQ(reports_[0].Modifiers, 0);
    EXPECT_EQ(reports_[0].Time, 0u);
    Backend("Deactivate", {QStringLiteral("record-pause")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 2; }));
    EXPECT_EQ(reports_[1].WParam, 0x7Bu);
    EXPECT_EQ(reports_[1].LParam, 0x00580001u | kRelease);
    Backend("Activate", {QStringLiteral("stop")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 3; }));
    EXPECT_EQ(reports_[2].WParam, 0x7Au);

    // No keyboard watch beside the portal: the key typed in an X program is not reported too.
    testing::OtherXClient other;
    Xdotool({"key", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return other.PressesOf("F12") == 1; }));
    QTest::qWait(300);
    EXPECT_EQ(reports_.size(), 3u);
    EXPECT_TRUE(ToldNow().isEmpty());  // every key asked for was granted
}

TEST_F(KbtapPortal, ANewListIsBoundInANewSession) {
    Backend("ClearGrants");
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}});
    ASSERT_TRUE(QTest::qWaitFor([] { return Bound().size() == 2; }));
    const QString first = Sessions("OpenSessions").value(0);

    SetList({{0x52, KBTAP_CTRL}, {0x21, KBTAP_ALT | KBTAP_SHIFT}});
    ASSERT_TRUE(QTest::qWaitFor([] {
        return Bound() == Rows{{"record-pause", "Record / Pause", "CTRL+r"}, {"stop", "Stop", "ALT+SHIFT+Prior"}};
    }));
    EXPECT_TRUE(Sessions("ClosedSessions").contains(first));
    EXPECT_EQ(Sessions("OpenSessions").size(), 1);
    Backend("Activate", {QStringLiteral("stop")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 1; }));
    EXPECT_EQ(reports_[0].WParam, 0x21u);
    EXPECT_EQ(reports_[0].Modifiers, KBTAP_ALT | KBTAP_SHIFT);
    EXPECT_EQ(reports_[0].LParam, 0x21490001u);  // Page Up: extended, Alt's bit

    // A deleted entry is not bound.
    SetList({{0x7B, 0}, {255, 0}});
    EXPECT_TRUE(QTest::qWaitFor([] { return Bound() == Rows{{"record-pause", "Record / Pause", "F12"}}; }));
}

TEST_F(KbtapPortal, KeysOtherThanAskedForAreTold) {
    Backend("ClearGrants");
    Backend("SetGrant", {QStringLiteral("record-pause"), QStringLiteral("CTRL+ALT+r")});
    Backend("SetGrant", {QStringLiteral("stop"), QString()});
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ToldNow().isEmpty(); }));
    QTest::qWait(300);
    ASSERT_EQ(ToldNow().size(), 1);
    EXPECT_TRUE(ToldNow()[0].startsWith("Record / Pause is CTRL+ALT+r, Stop has no key.")) << ToldNow()[0].toStdString();

    // The user gives Stop a key in the desktop's settings.
    Backend("ChangeShortcuts", {QStringLiteral("stop"), QStringLiteral("SHIFT+F10")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ToldNow().size() == 2; }));
    EXPECT_TRUE(ToldNow()[1].contains("Stop is SHIFT+F10")) << ToldNow()[1].toStdString();
    // Whatever key the desktop gave it, the entry is reported as the program knows it.
    Backend("Activate", {QStringLiteral("stop")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 1; }));
    EXPECT_EQ(reports_[0].WParam, 0x7Au);

    // A bind the user cancels leaves both without a key.
    Backend("SetResponse", {1u});
    SetList({{0x7B, 0}, {0x7A, 0}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return ToldNow().size() == 3; }));
    EXPECT_TRUE(ToldNow()[2].startsWith("Record / Pause has no key, Stop has no key.")) << ToldNow()[2].toStdString();
}

TEST_F(KbtapPortal, RemoveHookClosesTheSessionAndLeavesNothingBehind) {
    const int threads = testing::CountEntries("/proc/self/task");
    const int files = testing::CountEntries("/proc/self/fd");
    const QStringList before = Sessions("OpenSessions");  // an earlier test's may still close
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}});
    QString session;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (const QString& open : Sessions("OpenSessions"))
            if (!before.contains(open)) session = open;
        return !session.isEmpty();
    }));
    lib_.RemoveHook();
    EXPECT_TRUE(QTest::qWaitFor([&] { return Sessions("ClosedSessions").contains(session); }));
    EXPECT_TRUE(Sessions("OpenSessions").isEmpty());
    EXPECT_EQ(testing::CountEntries("/proc/self/task"), threads);
    EXPECT_EQ(testing::CountEntries("/proc/self/fd"), files);
}

// A portal that does not answer while the program starts (one still starting at login) leaves
// the keyboard watch in place, and the user is told why.
TEST_F(KbtapPortal, APortalThatDoesNotAnswerInTimeLeavesTheKeyboardWatch) {
    const int portal = qEnvironmentVariableIntValue("LARKSPUR_TEST_PORTAL_PID");
    ASSERT_EQ(kill(portal, SIGSTOP), 0);
    lib_.SetHook(window_.winId(), 1);
    kill(portal, SIGCONT);
    SetList({{0x7B, 0}, {0x7A, 0}});
    testing::OtherXClient other;
    Xdotool({"key", "F12"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 2 && reports_[0].WParam == 0x7B; }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ToldNow().isEmpty(); }));
    EXPECT_TRUE(ToldNow()[0].contains("did not answer in time")) << ToldNow()[0].toStdString();
}

// Kills the portal, starts it anew and kills it again: the last of this suite.
TEST_F(KbtapPortal, ThePortalDyingLeavesTheProgramRunning) {
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}});
    ASSERT_TRUE(QTest::qWaitFor([] { return Bound().size() == 2; }));
    ASSERT_EQ(kill(qEnvironmentVariableIntValue("LARKSPUR_TEST_PORTAL_PID"), SIGKILL), 0);
    ASSERT_TRUE(QTest::qWaitFor([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.portal.Desktop");
    }));
    SetList({{0x52, KBTAP_CTRL}, {0x7A, 0}});

    // A portal started anew gets the list last handed over, and its shortcuts are reported.
    QProcess portal;
    test::DieWithTest(portal);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DESKTOP_PORTAL_DIR", qEnvironmentVariable("LARKSPUR_TEST_PORTAL_DIR"));
    env.insert("XDG_CURRENT_DESKTOP", "test");
    portal.setProcessEnvironment(env);
    portal.start("/usr/libexec/xdg-desktop-portal", {"-r"});
    // The sessions of the portal that died stay open in the backend.
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return Bound().contains(QStringList{"record-pause", "Record / Pause", "CTRL+r"}); }, 10000))
        << Bound().size();
    Backend("Activate", {QStringLiteral("record-pause")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 1; }));
    EXPECT_EQ(reports_[0].WParam, 0x52u);
    reports_.clear();
    portal.kill();
    ASSERT_TRUE(portal.waitForFinished(5000));
    ASSERT_TRUE(QTest::qWaitFor([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.portal.Desktop");
    }));

    QElapsedTimer timer;
    timer.start();
    lib_.RemoveHook();
    EXPECT_LT(timer.elapsed(), 1000);

    // With the portal gone the keyboard watch takes over, with the list last handed over.
    lib_.SetHook(window_.winId(), 1);
    EXPECT_LT(timer.elapsed(), 3000);
    testing::OtherXClient other;
    Xdotool({"key", "F12", "ctrl+r"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 2 && reports_[0].WParam == 0x52; }));
}

// Run on a portal without GlobalShortcuts and on a bus with no portal at all.
using KbtapWithoutShortcuts = KbtapOnWayland;

TEST_F(KbtapWithoutShortcuts, TheKeyboardWatchTakesOverAndTheUserIsToldOnce) {
    lib_.SetHook(window_.winId(), 1);
    SetList({{0x7B, 0}, {0x7A, 0}});
    testing::OtherXClient other;
    Xdotool({"key", "F12"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports_.size() == 2; }));
    EXPECT_EQ(reports_[0].WParam, 0x7Bu);
    EXPECT_EQ(reports_[1].LParam, 0x00580001u | kRelease);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ToldNow().isEmpty(); }));
    EXPECT_TRUE(ToldNow()[0].contains("only while an X program has the focus")) << ToldNow()[0].toStdString();

    lib_.SetHook(window_.winId(), 1);
    QTest::qWait(300);
    EXPECT_EQ(ToldNow().size(), 1);
}

}  // namespace
}  // namespace larkspur
