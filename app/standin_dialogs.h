#pragma once
#include <QDialog>

// Stand-ins for the three option dialogs until their own classes land; each replaces its
// stand-in in app/main.cpp and deletes it from here.
namespace larkspur {

class TStandInOptionForm : public QDialog {
public:
    TStandInOptionForm(const char* name, const char* caption) {
        setObjectName(QString::fromLatin1(name));
        setWindowTitle(QString::fromLatin1(caption));
        resize(320, 200);
    }
    void FormCreate() {}
};

class TKeyOptionForm : public TStandInOptionForm {
public:
    TKeyOptionForm() : TStandInOptionForm("KeyOptionForm", "Keyboard Options") {}
};

}  // namespace larkspur
