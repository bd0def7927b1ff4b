// The main window as it comes up: every component under its name with its geometry, caption,
// image and enabled state; the menus; the commands that need no recording.
#include "app/main_form.h"
#include "platform/artwork.h"
#include "platform/message_box.h"
#include "tests/gui/app_qt_print.h"
#include "tests/support/captured_boxes.h"

#include <QAction>
#include <QDialog>
#include <QDirIterator>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSet>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace larkspur {
namespace {

// A dialog that records being shown modally instead of running its own loop.
class CountingDialog : public QDialog {
public:
    int shown = 0;
    int exec() override {
        ++shown;
        return Accepted;
    }
};

class ThrowingDialog : public QDialog {
public:
    int exec() override { throw std::runtime_error("The dialog could not be shown"); }
};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        form_.FormCreate();
        form_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    }

    template <class T>
    T* Find(const char* name) {
        T* object = form_.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(object, nullptr) << name;
        return object;
    }

    TForm1 form_;
    test::CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

TEST_F(MainWindowTest, WindowFrameAndCaption) {
    EXPECT_EQ(form_.objectName(), "Form1");
    EXPECT_EQ(form_.windowTitle(), "Larkspur");
    EXPECT_EQ(form_.windowIconText(), "Larkspur");
    EXPECT_EQ(form_.centralWidget()->size(), QSize(392, 333));
    // Fixed size: the client area plus the menu bar, nothing to resize.
    EXPECT_EQ(form_.minimumSize(), form_.maximumSize());
    EXPECT_EQ(form_.size().height(), 333 + form_.menuBar()->height());
    const Qt::WindowFlags flags = form_.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form_.font().pixelSize(), 11);
    EXPECT_EQ(form_.palette().color(QPalette::Window), form_.palette().color(QPalette::Button));
}

TEST_F(MainWindowTest, ToolbarButtonsWithTheirImages) {
    auto* toolBar = Find<QWidget>("ToolBar1");
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(toolBar->geometry(), QRect(0, 0, 392, 44));

    ASSERT_EQ(form_.ImageList1.size(), 6);
    for (const QPixmap& image : form_.ImageList1) {
        EXPECT_EQ(image.deviceIndependentSize(), QSizeF(32, 32));
        EXPECT_FALSE(image.toImage().allGray()) << "the toolbar images are drawn in colour";
    }

    // Side by side, each with an image of its own and the name its tooltip shows (what each
    // does is the recording window's and the option commands' tests).
    QList<QToolButton*> buttons = toolBar->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 6);
    std::sort(buttons.begin(), buttons.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
    QSet<int> images;
    for (int i = 0; i < buttons.size(); ++i) {
        QToolButton* button = buttons[i];
        SCOPED_TRACE(button->toolTip().toStdString());
        if (i > 0) EXPECT_GE(button->x(), buttons[i - 1]->geometry().right() + 1);
        EXPECT_EQ(button->size(), QSize(41, 39));
        EXPECT_TRUE(button->autoRaise());
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_EQ(button->iconSize(), QSize(32, 32));
        const int image = button->property("ImageIndex").toInt();
        ASSERT_TRUE(image >= 0 && image < form_.ImageList1.size());
        images.insert(image);
        EXPECT_EQ(button->icon().pixmap(32, 32).toImage(), form_.ImageList1.at(image).toImage());
        EXPECT_FALSE(button->toolTip().isEmpty());
        EXPECT_EQ(button->accessibleName(), button->toolTip());
        EXPECT_TRUE(button->isEnabled());
        EXPECT_TRUE(button->isVisible());
    }
    EXPECT_EQ(images.size(), 6);

    auto* separator = Find<QWidget>("ToolButton4");
    ASSERT_NE(separator, nullptr);
    EXPECT_EQ(separator->x(), 123);
    EXPECT_EQ(separator->width(), 8);
    EXPECT_EQ(separator->property("ImageIndex").toInt(), -1);
    EXPECT_EQ(qobject_cast<QToolButton*>(separator), nullptr) << "the separator is no button";
}

TEST_F(MainWindowTest, PictureStatusLineAndBottomStrip) {
    auto* scrollBox = Find<QScrollArea>("ScrollBox1");
    ASSERT_NE(scrollBox, nullptr);
    EXPECT_EQ(scrollBox->geometry(), QRect(0, 44, 392, 272));
    EXPECT_EQ(scrollBox->viewport()->size(), QSize(392, 272));
    EXPECT_FALSE(scrollBox->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(scrollBox->verticalScrollBar()->isVisible());

    auto* image = Find<QLabel>("Image1");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->geometry(), QRect(0, 0, 400, 280));
    EXPECT_EQ(image->pixmap().deviceIndependentSize(), QSizeF(400, 280));
    // The picture is cut: its right and bottom 8 pixels lie outside the box.
    EXPECT_EQ(image->mapTo(scrollBox, QPoint(0, 0)), QPoint(0, 0));

    auto* label = Find<QLabel>("Label1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), QRect(16, 8, 353, 25));
    EXPECT_EQ(label->parentWidget(), image->parentWidget());
    EXPECT_EQ(label->text(), "Welcome to use our software");
    EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_EQ(label->font().pixelSize(), 13);
    EXPECT_EQ(label->palette().color(label->foregroundRole()), QColor(Qt::white));
    EXPECT_FALSE(label->autoFillBackground());
    // Transparent: the pixels around the text are the picture's own.
    const QImage onScreen = form_.grab().toImage();
    const QPoint corner = label->mapTo(&form_, QPoint(2, 2));
    const QImage picture = image->pixmap().toImage();
    EXPECT_EQ(onScreen.pixelColor(corner * onScreen.devicePixelRatio()),
              picture.pixelColor(QPoint(18, 10) * picture.devicePixelRatio()));

    auto* player = Find<QWidget>("MediaPlayer1");
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->geometry(), QRect(48, 224, 253, 30));
    EXPECT_FALSE(player->isVisible());

    auto* panel = Find<QLabel>("Panel1");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->geometry(), QRect(0, 316, 392, 17));
    EXPECT_TRUE(panel->text().isEmpty());
    EXPECT_EQ(panel->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
}

TEST_F(MainWindowTest, TimerAndSaveDialogAtStartUp) {
    auto* timer = Find<TTimer>("Timer1");
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 500);
    EXPECT_EQ(timer->timerType(), Qt::PreciseTimer) << "never early, so a tick never shows the second before";
    EXPECT_EQ(timer->Tag, 0);

    // Built at its first use, off the start-up path.
    EXPECT_EQ(form_.findChild<QFileDialog*>(), nullptr);
    QFileDialog* save = form_.SaveDialog1.get();
    ASSERT_EQ(Find<QFileDialog>("SaveDialog1"), save);
    EXPECT_EQ(save->nameFilters(), QStringList({"*.wav", "*.mp3"}));
    EXPECT_EQ(save->selectedNameFilter(), "*.mp3");
    EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(save->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_TRUE(save->defaultSuffix().isEmpty());
    EXPECT_TRUE(save->isSizeGripEnabled());
    EXPECT_FALSE(save->isVisible());
}

// Everything a user can see of the window, to compare before and after a command.
struct Look {
    QImage picture;
    QString caption, iconText;
    std::vector<bool> enabled;
    bool timerActive;
    bool operator==(const Look&) const = default;
};

Look LookOf(TForm1& form) {
    Look look{form.grab().toImage(), form.windowTitle(), form.windowIconText(), {}, form.Timer1->isActive()};
    for (QWidget* w : {static_cast<QWidget*>(form.ToolButton1), static_cast<QWidget*>(form.ToolButton2),
                       static_cast<QWidget*>(form.ToolButton3), static_cast<QWidget*>(form.ToolButton5),
                       static_cast<QWidget*>(form.ToolButton6), static_cast<QWidget*>(form.ToolButton7)})
        look.enabled.push_back(w->isEnabled());
    for (QMenu* m : {form.File1, form.Options1, form.Help1}) {
        look.enabled.push_back(m->menuAction()->isEnabled());
        for (QAction* a : m->actions()) look.enabled.push_back(a->isEnabled());
    }
    return look;
}

TEST_F(MainWindowTest, PauseAndStopWithoutRecordingChangeNothingVisible) {
    const Look before = LookOf(form_);
    QTest::mouseClick(form_.ToolButton2, Qt::LeftButton);
    QTest::mouseClick(form_.ToolButton3, Qt::LeftButton);
    form_.Pause1->trigger();
    form_.Stop1->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(LookOf(form_) == before);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainWindowTest, StopEnablesTheMenus) {
    for (QMenu* m : {form_.File1, form_.Options1, form_.Help1}) m->setEnabled(false);
    QTest::mouseClick(form_.ToolButton3, Qt::LeftButton);
    for (QMenu* m : {form_.File1, form_.Options1, form_.Help1}) EXPECT_TRUE(m->menuAction()->isEnabled());
}

TEST_F(MainWindowTest, TheStatusLineIsSetByTheCreationEventAndNeverChanges) {
    TForm1 uncreated;
    EXPECT_EQ(uncreated.Label1->text(), "");
    CountingDialog dialog;
    form_.SetOptionDialogs(&dialog, &dialog, &dialog);
    for (QMenu* m : {form_.File1, form_.Options1})
        for (QAction* a : m->actions())
            if (a != form_.Exit1 && a != form_.Recorder1) a->trigger();
    for (QToolButton* b : {form_.ToolButton2, form_.ToolButton3, form_.ToolButton5}) QTest::mouseClick(b, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(form_.Label1->text(), "Welcome to use our software");
}

// The picture is 8 pixels larger than its box; it is cut off, never scrolled to.
TEST_F(MainWindowTest, ThePictureNeverScrolls) {
    QWidget* contents = form_.ScrollBox1->widget();
    const QPoint at = contents->pos();
    QWidget* viewport = form_.ScrollBox1->viewport();
    const QPoint centre = viewport->rect().center();
    for (int delta : {-120, -120, 120, -240}) {
        QWheelEvent wheel(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(viewport, &wheel);
    }
    form_.ScrollBox1->setFocus();
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Right, Qt::Key_PageDown, Qt::Key_End})
        QTest::keyClick(form_.ScrollBox1, key);
    QCoreApplication::processEvents();
    EXPECT_EQ(contents->pos(), at);
    EXPECT_EQ(contents->mapTo(form_.ScrollBox1, QPoint()), QPoint(0, 0));
}

TEST_F(MainWindowTest, OptionCommandsShowTheirDialogsModally) {
    CountingDialog general, audio, keyboard;
    form_.SetOptionDialogs(&general, &audio, &keyboard);
    QTest::mouseClick(form_.ToolButton5, Qt::LeftButton);
    EXPECT_EQ(general.shown, 1);
    QTest::mouseClick(form_.ToolButton6, Qt::LeftButton);
    EXPECT_EQ(audio.shown, 1);
    QTest::mouseClick(form_.ToolButton7, Qt::LeftButton);
    EXPECT_EQ(keyboard.shown, 1);
    // The menu items are the same commands.
    form_.GeneralOptions1->trigger();
    form_.AudioOptions1->trigger();
    form_.KeybordOptions1->trigger();
    EXPECT_EQ(general.shown, 2);
    EXPECT_EQ(audio.shown, 2);
    EXPECT_EQ(keyboard.shown, 2);
}

TEST_F(MainWindowTest, AnErrorInACommandIsShownAndTheWindowCarriesOn) {
    ThrowingDialog broken;
    CountingDialog fine;
    form_.SetOptionDialogs(&broken, &fine, &fine);
    QTest::mouseClick(form_.ToolButton5, Qt::LeftButton);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Larkspur");
    EXPECT_EQ(boxes_[0].text, "The dialog could not be shown.");
    EXPECT_EQ(boxes_[0].icon, BoxIcon::Error);
    QTest::mouseClick(form_.ToolButton6, Qt::LeftButton);
    EXPECT_EQ(fine.shown, 1);
    EXPECT_TRUE(form_.isVisible());
}

TEST_F(MainWindowTest, ExitClosesTheWindowLikeItsCloseBox) {
    form_.Exit1->trigger();
    EXPECT_FALSE(form_.isVisible());
    form_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form_));
    EXPECT_TRUE(form_.close());
    EXPECT_FALSE(form_.isVisible());
}

// What is loaded at start-up in place of the SVGs is what they give, pixel for pixel.
TEST(ArtworkTest, EveryRenderingMadeAtBuildTimeIsItsSvgAtThatSizeAndRatio) {
    QMap<QString, QString> svgs;
    for (QDirIterator i(":/larkspur", {"*.svg"}, QDir::Files, QDirIterator::Subdirectories); i.hasNext();) {
        const QString path = i.next();
        svgs[QFileInfo(path).completeBaseName()] = path;
    }
    const QRegularExpression name(QStringLiteral("^(.+)-(\\d+)x(\\d+)@(\\d)x\\.argb$"));
    int checked = 0;
    for (const QString& raster : QDir(":/larkspur/raster").entryList()) {
        const auto m = name.match(raster);
        ASSERT_TRUE(m.hasMatch()) << raster.toStdString();
        ASSERT_TRUE(svgs.contains(m.captured(1))) << raster.toStdString();
        const QString svg = svgs[m.captured(1)];
        const QSize size(m.captured(2).toInt(), m.captured(3).toInt());
        const int ratio = m.captured(4).toInt();
        EXPECT_EQ(RasterName(svg, size, ratio), raster);
        const QImage expected = RenderArtworkAt(svg, size, ratio).toImage();
        EXPECT_EQ(RasterisedArtwork(svg, size, ratio).convertToFormat(expected.format()), expected)
            << raster.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 9) << "the toolbar, the title, the About box and the program icon";
}

}  // namespace
}  // namespace larkspur
