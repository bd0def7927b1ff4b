// The application's error box: an exception leaving a handler is shown with the application
// title as caption, an error icon, and its message with "." added after a character that sorts
// after "."; the program carries on.
#include "platform/error_box.h"
#include "platform/message_box.h"
#include "tests/gui/app_qt_print.h"
#include "tests/support/captured_boxes.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace larkspur {
namespace {

TEST(ApplicationTitle, IsLarkspurAtStartUp) { EXPECT_EQ(ApplicationTitle(), "Larkspur"); }

TEST(ErrorBoxText, AppendsAFullStopAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(ErrorBoxText("Device not open"), "Device not open.");
    EXPECT_EQ(ErrorBoxText("Error 42"), "Error 42.");       // '2' sorts after '.'
    EXPECT_EQ(ErrorBoxText("Is it open?"), "Is it open?.");  // '?' sorts after '.'
    EXPECT_EQ(ErrorBoxText("C:/temp/"), "C:/temp/.");        // '/' is the character after '.'
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8("Fehler bei Übergröße")), QString::fromUtf8("Fehler bei Übergröße."));
}

TEST(ErrorBoxText, LeavesMessagesEndingInOrBeforeAFullStop) {
    EXPECT_EQ(ErrorBoxText("Unable to write to /x/Config.ini."), "Unable to write to /x/Config.ini.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");
    EXPECT_EQ(ErrorBoxText("a,"), "a,");
    EXPECT_EQ(ErrorBoxText("trailing blank "), "trailing blank ");
    EXPECT_EQ(ErrorBoxText(""), "");
}

class GuardedTest : public testing::Test {
protected:
    void TearDown() override { SetApplicationTitle("Larkspur"); }
    test::CapturedBoxes captured_;
    std::vector<MessageBoxRequest>& boxes_ = captured_.boxes;
};

TEST_F(GuardedTest, AnExceptionIsShownWithTitleAndErrorIconAndTheCallerGoesOn) {
    int ran = 0;
    Guarded([&] {
        ++ran;
        throw std::runtime_error("'x1' is not a valid integer value");
    });
    Guarded([&] { ++ran; });  // the program carries on with the next handler
    EXPECT_EQ(ran, 2);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Larkspur");
    EXPECT_EQ(boxes_[0].text, "'x1' is not a valid integer value.");
    EXPECT_EQ(boxes_[0].icon, BoxIcon::Error);
}

TEST_F(GuardedTest, TheCaptionIsTheCurrentApplicationTitle) {
    SetApplicationTitle("Larkspur - Stop");
    Guarded([] { throw std::runtime_error("boom"); });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].caption, "Larkspur - Stop");
}

TEST_F(GuardedTest, AnExceptionOfAnotherKindShowsAnEmptyMessage) {
    Guarded([] { throw 42; });
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "");
    EXPECT_EQ(boxes_[0].icon, BoxIcon::Error);
}

TEST_F(GuardedTest, AHandlerThatEndsNormallyShowsNothing) {
    int ran = 0;
    Guarded([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace larkspur
