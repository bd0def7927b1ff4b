#pragma once
#include <QDialog>
#include <QStyle>

class QGroupBox;
class QKeyEvent;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace larkspur {

// No button of the option dialogs is a default button, yet a focused push button still takes a
// plain Enter (no Shift, Ctrl or Alt) as a click. For a key event on `watched`; true when it
// clicked.
bool ClickFocusedButtonOnEnter(QObject* watched, const QKeyEvent& key);

// What the option dialogs share: a fixed-size frame centred on the screen, "MS Sans Serif" at
// 8 points, key preview into FormKeyDown, and buttons that never act as default buttons, so Enter
// and Escape reach the focused control.
class OptionDialog : public QDialog {
    Q_OBJECT
public:
    // Sees every key pressed while the dialog is active before the focused control does:
    // Escape closes the dialog, any other key does nothing.
    void FormKeyDown(QKeyEvent* event);

    // A flat button with a picture, taken from the style when the button first shows; it never
    // takes the focus.
    static QToolButton* MakeSpeedButton(QWidget* parent, const char* name, const QString& text,
                                        QStyle::StandardPixmap picture, Qt::ToolButtonStyle layout,
                                        const QRect& geometry);

protected:
    OptionDialog(const char* name, const QString& caption, int width, int height, QWidget* parent);

    // Call once all controls exist: routes their keys through FormKeyDown first.
    void InstallKeyPreview();

    static QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const QString& title,
                                   const QRect& geometry);
    static QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                                   const QRect& geometry);
    static QRadioButton* MakeRadio(QWidget* parent, const char* name, const QString& text,
                                   const QRect& geometry);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool centred_ = false;
};

}  // namespace larkspur
