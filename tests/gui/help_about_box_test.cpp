// The About box: its layout and texts, its artwork, and the ways it closes.
#include "app/main_form.h"
#include "help/about_box.h"
#include "tests/gui/app_qt_print.h"

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace larkspur {
namespace {

class AboutBoxTest : public testing::Test {
protected:
    void SetUp() override { box_.FormCreate(); }

    // Runs the box modally; `act` runs once it is up. Returns its result.
    int RunModal(std::function<void()> act) {
        bool acted = false;
        QTimer::singleShot(0, &box_, [&] {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&box_));
            act();
            acted = true;
        });
        QTimer guard;  // a box that does not close must not hang the test
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &box_, [&] { box_.done(-1); });
        guard.start(5000);
        const int result = box_.exec();
        EXPECT_TRUE(acted);
        return result;
    }

    TAboutBox box_;
};

TEST_F(AboutBoxTest, LayoutAndTexts) {
    EXPECT_EQ(box_.objectName(), "AboutBox");
    EXPECT_EQ(box_.windowTitle(), "About Larkspur");
    EXPECT_EQ(box_.size(), QSize(388, 273));
    EXPECT_EQ(box_.minimumSize(), box_.maximumSize());
    EXPECT_FALSE(box_.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(box_.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(box_.font().pixelSize(), 11);

    EXPECT_EQ(box_.ScrollBox1->geometry(), QRect(12, 12, 163, 209));
    EXPECT_EQ(box_.ScrollBox1->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(box_.ScrollBox1->autoFillBackground());
    EXPECT_EQ(box_.Image1->parentWidget(), box_.ScrollBox1);
    EXPECT_EQ(box_.Image1->size(), QSize(150, 185));
    EXPECT_EQ(box_.Image1->pos(), QPoint(3, 10) + QPoint(1, 1) * box_.ScrollBox1->frameWidth());

    EXPECT_EQ(box_.GroupBox1->geometry(), QRect(190, 8, 185, 214));
    EXPECT_TRUE(box_.GroupBox1->title().isEmpty());
    struct Expected { QLabel* label; QRect geometry; QString text; };
    const Expected labels[] = {
        {box_.ProductName, {32, 40, 121, 13}, "Larkspur"},
        {box_.Version, {32, 72, 121, 13}, "Version 2.0"},
        {box_.Comments, {16, 160, 161, 13}, "Records what you hear."},
        {box_.Copyright, {16, 176, 161, 13}, "Kestrel Software"},
    };
    for (const Expected& e : labels) {
        SCOPED_TRACE(e.text.toStdString());
        EXPECT_EQ(e.label->parentWidget(), box_.GroupBox1);
        EXPECT_EQ(e.label->geometry(), e.geometry);
        EXPECT_EQ(e.label->text(), e.text);
        // Each text fits its label.
        EXPECT_LE(e.label->fontMetrics().horizontalAdvance(e.label->text()), e.geometry.width());
        EXPECT_LE(e.label->fontMetrics().height(), e.geometry.height() + 2);
    }

    EXPECT_EQ(box_.OKButton->geometry(), QRect(239, 234, 89, 25));
    EXPECT_EQ(box_.OKButton->text(), "OK");
}

TEST_F(AboutBoxTest, ArtworkIsInPlaceAfterCreation) {
    TAboutBox fresh;
    EXPECT_TRUE(fresh.Image1->pixmap().isNull());
    fresh.FormCreate();
    const QImage art = fresh.Image1->pixmap().toImage();
    EXPECT_EQ(fresh.Image1->pixmap().deviceIndependentSize(), QSizeF(150, 185));
    EXPECT_FALSE(art.allGray());
    // Drawn to the edges: no transparent margin around the picture.
    EXPECT_EQ(art.pixelColor(art.width() / 2, 1).alpha(), 255);
    EXPECT_EQ(art.pixelColor(art.width() / 2, art.height() - 2).alpha(), 255);
}

TEST_F(AboutBoxTest, OkClosesTheBox) {
    EXPECT_EQ(RunModal([&] { QTest::mouseClick(box_.OKButton, Qt::LeftButton); }), QDialog::Accepted);
    EXPECT_FALSE(box_.isVisible());
}

TEST_F(AboutBoxTest, EnterOnOkClosesTheBox) {
    EXPECT_EQ(RunModal([&] { QTest::keyClick(&box_, Qt::Key_Return); }), QDialog::Accepted);
}

TEST_F(AboutBoxTest, EscapeClosesTheBoxFromAnyControl) {
    EXPECT_EQ(RunModal([&] { QTest::keyClick(&box_, Qt::Key_Escape); }), QDialog::Rejected);
    EXPECT_EQ(RunModal([&] {
                  box_.OKButton->setFocus();
                  QTest::keyClick(box_.OKButton, Qt::Key_Escape);
              }),
              QDialog::Rejected);
    EXPECT_FALSE(box_.isVisible());
}

TEST_F(AboutBoxTest, TheBoxIsKeptAndShownAgain) {
    RunModal([&] { QTest::keyClick(&box_, Qt::Key_Escape); });
    EXPECT_EQ(RunModal([&] { QTest::mouseClick(box_.OKButton, Qt::LeftButton); }), QDialog::Accepted);
    EXPECT_EQ(box_.ProductName->text(), "Larkspur");
}

TEST_F(AboutBoxTest, HelpAboutShowsTheBoxModally) {
    TForm1 form;
    form.SetAboutBox(&box_);
    bool modal = false;
    QTimer::singleShot(0, &box_, [&] {
        modal = box_.isVisible() && box_.isModal();
        QTest::mouseClick(box_.OKButton, Qt::LeftButton);
    });
    form.About1->trigger();
    EXPECT_TRUE(modal);
    EXPECT_FALSE(box_.isVisible());
}

}  // namespace
}  // namespace larkspur
