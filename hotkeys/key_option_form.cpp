#include "hotkeys/key_option_form.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include "config/option_dialog.h"
#include "hotkeys/hook_library.h"
#include "hotkeys/hotkey_table.h"
#include "platform/error_box.h"
#include "platform/keyboard.h"

namespace larkspur {
namespace {

const char kTag[] = "Tag";  // the table entry a key field edits

QToolButton* SpeedButton(QWidget* parent, const char* name, const char* caption,
                         QStyle::StandardPixmap glyph, int left) {
    QToolButton* button = OptionDialog::MakeSpeedButton(parent, name, QString::fromLatin1(caption), glyph,
                                                        Qt::ToolButtonTextBesideIcon, {left, 31, 67, 24});
    button->setAutoRaise(false);
    return button;
}

QPushButton* PushButton(QWidget* parent, const QString& caption, QRect geometry) {
    auto* button = new QPushButton(caption, parent);
    // Enter and Escape go to the focused control, never to a default button.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(geometry);
    return button;
}

QLineEdit* KeyField(QWidget* parent, int tag) {
    auto* field = new QLineEdit(parent);
    field->setReadOnly(true);
    field->setGeometry(24, 32, 201, 21);
    field->setProperty(kTag, tag);
    return field;
}

bool IsFocusNavigation(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) &&
           !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

}  // namespace

TKeyOptionForm::TKeyOptionForm(QWidget* parent) : QDialog(parent) {
    setObjectName("KeyOptionForm");
    setWindowTitle("Keyboard Option");
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(420, 231);

    GroupBox1 = new QGroupBox("Record/Pause Key", this);
    GroupBox1->setGeometry(8, 8, 401, 81);
    Edit1 = KeyField(GroupBox1, 0);
    SpeedButton18 = SpeedButton(GroupBox1, "SpeedButton18", "Delete", QStyle::SP_DialogDiscardButton, 239);
    SpeedButton19 = SpeedButton(GroupBox1, "SpeedButton19", "Default", QStyle::SP_DialogResetButton, 313);

    GroupBox2 = new QGroupBox("Stop Key", this);
    GroupBox2->setGeometry(10, 96, 401, 81);
    Edit2 = KeyField(GroupBox2, 1);
    SpeedButton1 = SpeedButton(GroupBox2, "SpeedButton1", "Delete", QStyle::SP_DialogDiscardButton, 239);
    SpeedButton2 = SpeedButton(GroupBox2, "SpeedButton2", "Default", QStyle::SP_DialogResetButton, 313);

    Button1 = PushButton(this, "OK", {237, 190, 81, 27});
    Button2 = PushButton(this, "Cancel", {325, 190, 81, 27});

    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Edit2);

    // Key preview: the form sees each key before the focused control does.
    for (QWidget* w : {static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2),
                       static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2)})
        w->installEventFilter(this);

    connect(SpeedButton18, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton18Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton1Click(); }); });
    connect(SpeedButton19, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton19Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { Guarded([&] { SpeedButton2Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([&] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([&] { Button2Click(); }); });
}

QLineEdit* TKeyOptionForm::FieldOf(int index) const { return index == 0 ? Edit1 : Edit2; }

void TKeyOptionForm::Load() {
    // Each entry fills its field as soon as it is read: 0 in Edit1, every later one in Edit2.
    LoadHotKeys([this](int n) { FieldOf(n)->setText(HotKeyText(n)); });
}

void TKeyOptionForm::FormCreate() { Load(); }

void TKeyOptionForm::FormShow() { Edit1->setFocus(); }

void TKeyOptionForm::FormKeyDown(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape) close();
}

void TKeyOptionForm::Edit1KeyDown(QLineEdit* field, const QKeyEvent& key) {
    const int index = field->property(kTag).toInt();
    const uint8_t code = VirtualKeyOfKeyEvent(key);
    // Enter can't be stored (an INI line ends there), and a key without a code can't be matched:
    // the entry and the field keep what they had.
    if (code == vk::Return || code == 0) return;
    KeepTableBeforeKey(static_cast<uint32_t>(key.timestamp()));
    Qt::KeyboardModifiers held = key.modifiers();
    // A modifier key's own event carries the state before it (X) or after it (others), and Qt
    // toggles that key's bit in it; either way the pressed modifier counts as held.
    if (code == vk::Control) held |= Qt::ControlModifier;
    if (code == vk::Menu) held |= Qt::AltModifier;
    if (code == vk::Shift) held |= Qt::ShiftModifier;
    uint8_t modifiers = 0;
    if (held & Qt::ControlModifier) modifiers |= 1;
    if (held & Qt::AltModifier) modifiers |= 2;
    if (held & Qt::ShiftModifier) modifiers |= 4;
    CASKeyCodes[index] = modifiers;
    if (code == vk::Control || code == vk::Menu || code == vk::Shift) {
        field->setText(ModifierPrefix(modifiers));
        return;
    }
    HotKeyCodes[index] = code;
    field->setText(HotKeyText(index));
}

void TKeyOptionForm::Edit1KeyUp(QLineEdit* field) {
    if (field->text().endsWith(' ')) field->clear();
}

void TKeyOptionForm::SetEntry(int index, uint8_t key, uint8_t modifiers) {
    HotKeyCodes[index] = key;
    CASKeyCodes[index] = modifiers;
    FieldOf(index)->setText(HotKeyText(index));
}

void TKeyOptionForm::SpeedButton18Click() { SetEntry(0, kDeletedKey, kDeletedKey); }
void TKeyOptionForm::SpeedButton1Click() { SetEntry(1, kDeletedKey, kDeletedKey); }
void TKeyOptionForm::SpeedButton19Click() { SetEntry(0, vk::F12, 0); }
void TKeyOptionForm::SpeedButton2Click() { SetEntry(1, vk::F11, 0); }

void TKeyOptionForm::Button1Click() {
    SaveHotKeys();
    HandHotKeysToLibrary();
    accept();
}

void TKeyOptionForm::Button2Click() {
    Load();
    reject();
}

bool TKeyOptionForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return QDialog::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    auto* field = qobject_cast<QLineEdit*>(watched);
    if (event->type() == QEvent::KeyRelease) {
        if (field) Guarded([&] { Edit1KeyUp(field); });
        return field != nullptr;
    }
    if (IsFocusNavigation(key)) return false;
    Guarded([&] { FormKeyDown(key); });
    if (field) Guarded([&] { Edit1KeyDown(field, key); });
    if (!field && ClickFocusedButtonOnEnter(watched, key)) return true;
    // A button still gets its keys (Space clicks it), except Escape, which the form took.
    return field != nullptr || key.key() == Qt::Key_Escape;
}

void TKeyOptionForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Guarded([&] { FormShow(); });
}

void TKeyOptionForm::keyPressEvent(QKeyEvent* event) {
    // Neither Enter nor Escape has a dialog-wide meaning beyond the form's own handler.
    Guarded([&] { FormKeyDown(*event); });
}

}  // namespace larkspur
