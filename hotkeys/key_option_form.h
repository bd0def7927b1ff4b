#pragma once
#include <QDialog>

class QGroupBox;
class QKeyEvent;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace larkspur {

// Keyboard options: the Record/Pause and Stop keys, chosen by pressing them in their fields.
// Captures, Delete and Default change the hotkey table at once; OK saves it and hands it to the
// hook library, Cancel reloads it; Escape and the close box keep the edits unsaved.
class TKeyOptionForm : public QDialog {
    Q_OBJECT
public:
    explicit TKeyOptionForm(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QLineEdit* Edit1;  // entry 0
    QToolButton* SpeedButton18;
    QToolButton* SpeedButton19;
    QGroupBox* GroupBox2;
    QLineEdit* Edit2;  // entry 1
    QToolButton* SpeedButton1;
    QToolButton* SpeedButton2;
    QPushButton* Button1;
    QPushButton* Button2;

    // Creation event: the program entry calls it right after construction.
    void FormCreate();
    void FormShow();
    void FormKeyDown(const QKeyEvent& key);
    void Edit1KeyDown(QLineEdit* field, const QKeyEvent& key);
    void Edit1KeyUp(QLineEdit* field);
    void SpeedButton18Click();
    void SpeedButton1Click();
    void SpeedButton19Click();
    void SpeedButton2Click();
    void Button1Click();
    void Button2Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Load();
    void SetEntry(int index, uint8_t key, uint8_t modifiers);
    QLineEdit* FieldOf(int index) const;
};

}  // namespace larkspur
