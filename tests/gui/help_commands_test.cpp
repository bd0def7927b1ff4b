// The Help menu hands the desktop its targets: the mail link, the product page and the local
// page beside the program.
#include "app/main_form.h"
#include "help/help_commands.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "tests/gui/app_qt_print.h"
#include "tests/support/captured_boxes.h"
#include "tests/support/recording_shell.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>
#include <vector>

namespace larkspur {
namespace {

class HelpMenuTest : public testing::Test {
protected:
    void SetUp() override { form_.FormCreate(); }

    const ShellRequest& OnlyRequest() {
        EXPECT_EQ(shell_.requests.size(), 1u);
        return shell_.requests.back();
    }

    test::RecordingShell shell_;
    TForm1 form_;
};

TEST_F(HelpMenuTest, SubmitQuestionOpensTheMailLinkWithNoOwner) {
    form_.Submitquestionbug1->trigger();
    const ShellRequest& r = OnlyRequest();
    EXPECT_EQ(r.owner, nullptr);
    EXPECT_EQ(r.verb, "open");
    EXPECT_EQ(r.target, "mailto:support@larkspur.example.com");
    // The address alone: no subject, no body, a valid mail link under the reserved domain.
    const QUrl url(r.target);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_FALSE(url.hasQuery());
    EXPECT_TRUE(url.path().endsWith(".example.com"));
}

TEST_F(HelpMenuTest, WebSiteOpensTheProductPageForTheMainWindow) {
    form_.LarkspurWebSite1->trigger();
    const ShellRequest& r = OnlyRequest();
    EXPECT_EQ(r.owner, &form_);
    EXPECT_TRUE(r.verb.isEmpty());
    const QUrl url(r.target, QUrl::StrictMode);
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "https");
    EXPECT_TRUE(url.host().endsWith(".example.com"));
}

TEST_F(HelpMenuTest, OtherSoftwareOpensTheLocalPageBesideTheProgram) {
    form_.KestrelOtherSoftware1->trigger();
    const ShellRequest& r = OnlyRequest();
    EXPECT_EQ(r.owner, &form_);
    EXPECT_TRUE(r.verb.isEmpty());
    // The directory of the running executable, then the page's relative path.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    EXPECT_EQ(r.target, QFileInfo(exe).path() + "/Web/ourproducts.htm");
}

TEST_F(HelpMenuTest, ResultsAreNotExaminedAndNothingIsReported) {
    const test::CapturedBoxes captured;
    form_.Submitquestionbug1->trigger();
    form_.LarkspurWebSite1->trigger();
    form_.KestrelOtherSoftware1->trigger();
    EXPECT_EQ(shell_.requests.size(), 3u);
    EXPECT_TRUE(captured.boxes.empty());
    EXPECT_EQ(shell_.volumeControls, 0);
}

TEST(HelpPage, TheBuildPlacesThePageBesideTheProgram) {
    const QByteArray out = qgetenv("LARKSPUR_OUT_DIR");
    ASSERT_FALSE(out.isEmpty());
    QFile page(QString::fromLocal8Bit(out) + "/Web/ourproducts.htm");
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    EXPECT_TRUE(html.contains("<title>Kestrel Software"));
    EXPECT_TRUE(html.contains("mailto:support@larkspur.example.com"));
}

}  // namespace
}  // namespace larkspur
