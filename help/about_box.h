#pragma once
#include <QDialog>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace larkspur {

// The About box: product artwork, name, version, a notice line and the maker. OK and Escape
// (QDialog's own) close it.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Creation event: puts the artwork in place.
    void FormCreate();

    QFrame* ScrollBox1;  // the white box that holds the picture
    QLabel* Image1;
    QGroupBox* GroupBox1;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Comments;
    QLabel* Copyright;
    QPushButton* OKButton;
};

}  // namespace larkspur
