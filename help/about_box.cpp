#include "help/about_box.h"

#include "platform/artwork.h"
#include "platform/error_box.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace larkspur {
namespace {

QLabel* AboutLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About Larkspur"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(388, 273);

    ScrollBox1 = new QFrame(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setGeometry(12, 12, 163, 209);
    ScrollBox1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    ScrollBox1->setAutoFillBackground(true);
    QPalette white = ScrollBox1->palette();
    white.setColor(QPalette::Window, Qt::white);
    ScrollBox1->setPalette(white);

    Image1 = new QLabel(ScrollBox1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(3 + ScrollBox1->frameWidth(), 10 + ScrollBox1->frameWidth(), 150, 185);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(190, 8, 185, 214);

    ProductName = AboutLabel(GroupBox1, "ProductName", QStringLiteral("Larkspur"), {32, 40, 121, 13});
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    Version = AboutLabel(GroupBox1, "Version", QStringLiteral("Version 2.0"), {32, 72, 121, 13});
    Comments = AboutLabel(GroupBox1, "Comments", QStringLiteral("Records what you hear."),
                          {16, 160, 161, 13});
    Copyright = AboutLabel(GroupBox1, "Copyright", QStringLiteral("Kestrel Software"), {16, 176, 161, 13});

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(239, 234, 89, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { Guarded([&] { accept(); }); });
}

void TAboutBox::FormCreate() {
    Image1->setPixmap(RenderArtwork(QStringLiteral(":/larkspur/about.svg"), {150, 185}));
}

}  // namespace larkspur
