#include "config/option_dialog.h"

#include "platform/error_box.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

namespace larkspur {

bool ClickFocusedButtonOnEnter(QObject* watched, const QKeyEvent& key) {
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) ||
        (key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)))
        return false;
    button->click();
    return true;
}

OptionDialog::OptionDialog(const char* name, const QString& caption, int width, int height,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
    setFixedSize(width, height);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);
}

void OptionDialog::FormKeyDown(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) close();
}

void OptionDialog::InstallKeyPreview() {
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

bool OptionDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        Guarded([&] { FormKeyDown(key); });
        // The dialog has closed on Escape; the key goes no further.
        if (key->key() == Qt::Key_Escape) return true;
        if (ClickFocusedButtonOnEnter(watched, *key)) return true;
    }
    return QDialog::eventFilter(watched, event);
}

// QDialog's own handling would close on Escape and press a default button on Enter.
void OptionDialog::keyPressEvent(QKeyEvent* event) { QWidget::keyPressEvent(event); }

void OptionDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

QGroupBox* OptionDialog::MakeGroupBox(QWidget* parent, const char* name, const QString& title,
                                      const QRect& geometry) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    return box;
}

QPushButton* OptionDialog::MakeButton(QWidget* parent, const char* name, const QString& text,
                                      const QRect& geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QRadioButton* OptionDialog::MakeRadio(QWidget* parent, const char* name, const QString& text,
                                      const QRect& geometry) {
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(QString::fromLatin1(name));
    radio->setGeometry(geometry);
    return radio;
}

namespace {

// The style's pictures are PNG files, and the first one read loads every image plugin Qt has:
// milliseconds of start-up for dialogs that may never be shown. The picture is taken when the
// button first shows.
class SpeedButton : public QToolButton {
public:
    SpeedButton(QWidget* parent, QStyle::StandardPixmap picture) : QToolButton(parent), picture_(picture) {}

protected:
    void showEvent(QShowEvent* event) override {
        if (icon().isNull()) setIcon(style()->standardIcon(picture_));
        QToolButton::showEvent(event);
    }

private:
    QStyle::StandardPixmap picture_;
};

}  // namespace

QToolButton* OptionDialog::MakeSpeedButton(QWidget* parent, const char* name, const QString& text,
                                           QStyle::StandardPixmap picture,
                                           Qt::ToolButtonStyle layout, const QRect& geometry) {
    auto* button = new SpeedButton(parent, picture);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setText(text);
    button->setToolButtonStyle(layout);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace larkspur
