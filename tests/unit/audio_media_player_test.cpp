// TMediaPlayer's commands, state and errors, on the capture-layer double.
#include "audio/media_player.h"
#include "audio/pulse_capture.h"
#include "audio/wave_file.h"
#include "tests/support/audio_checks.h"
#include "tests/support/fake_capture.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <unistd.h>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using test::FakeCapture;
using Commands = std::vector<std::string>;

class MediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        element = (dir / "~temp.wav").string();
        test::WriteWaveTemplate(element, {2, 44100, 16});
    }


    // Opens the player on the template the way the main window does.
    void OpenOnElement() {
        player.SetDeviceType(dtAutoSelect);
        player.SetFileName(element);
        player.Open();
    }

    static std::string Message(const std::function<void()>& command) {
        try {
            command();
        } catch (const EMCIDeviceError& e) {
            return e.what();
        }
        return "(nothing raised)";
    }

    test::TestFolder folder_{"larkspur-mp"};
    const std::filesystem::path dir = folder_.Path();
    std::string element;
    std::shared_ptr<FakeCapture> fake = std::make_shared<FakeCapture>();
    TMediaPlayer player{fake};
};

// The device records wave audio alone: every other type named is refused at the open, before
// any server is asked; wave audio goes on to the server (here there is none).
TEST(DeviceTypes, OnlyWaveAudioIsRecorded) {
    const char* previous = std::getenv("PULSE_SERVER");
    const std::string kept = previous ? previous : "";
    ::setenv("PULSE_SERVER", "unix:/nonexistent/native", 1);
    {
        TMediaPlayer player(std::make_shared<PulseCapture>());
        for (int type = dtAutoSelect + 1; type <= dtWaveAudio; ++type) {
            SCOPED_TRACE(DeviceTypeString(TMPDeviceTypes(type)));
            player.SetDeviceType(TMPDeviceTypes(type));
            EXPECT_THROW(player.Open(), EMCIDeviceError);
            EXPECT_EQ(player.LastError(), type == dtWaveAudio ? kCaptureNoServer : kCaptureUnknownDeviceType);
        }
    }
    if (previous) ::setenv("PULSE_SERVER", kept.c_str(), 1);
    else ::unsetenv("PULSE_SERVER");
}

TEST_F(MediaPlayerTest, AutoSelectOpensOnTheElementAndWaitingCommandsWait) {
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.DeviceId(), 0);
    OpenOnElement();
    EXPECT_EQ(fake->Commands(), Commands{"open |" + element});
    EXPECT_EQ(player.CommandFlags(), kMciWait | kMciOpenElement);
    EXPECT_TRUE(player.IsOpen());
    EXPECT_NE(player.DeviceId(), 0);
    EXPECT_EQ(player.LastError(), 0u);
    EXPECT_EQ(fake->Format(), (WaveFormat{2, 44100, 16}));

    player.Record();
    EXPECT_EQ(player.CommandFlags(), kMciNotify);
    player.Stop();
    EXPECT_EQ(player.CommandFlags(), kMciWait);
    player.Save();
    EXPECT_EQ(player.CommandFlags(), kMciWait | kMciSaveFile);
    player.Close();
    EXPECT_EQ(player.CommandFlags(), kMciWait);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.DeviceId(), 0);
}

TEST_F(MediaPlayerTest, ExplicitTypeOpensWithoutTheElementInTheDefaultFormat) {
    player.SetDeviceType(dtWaveAudio);
    player.SetFileName(element);
    player.Open();
    EXPECT_EQ(fake->Commands(), Commands{"open WaveAudio|-no element-"});
    EXPECT_EQ(player.CommandFlags(), kMciWait | kMciOpenType);
    EXPECT_EQ(fake->Format(), kDefaultWaveFormat);

    // Nothing reaches the named file until it is saved.
    player.Record();
    fake->Advance(501ms);  // 5523 bytes: an odd data chunk
    player.Stop();
    EXPECT_EQ(std::filesystem::file_size(element), kWaveHeaderSize);
    player.Save();
    const auto saved = test::ReadSoxInfo(element);
    ASSERT_TRUE(saved.valid);
    EXPECT_EQ(saved.rate, 11025);
    EXPECT_EQ(saved.bits, 8);
    EXPECT_EQ(saved.channels, 1);
    EXPECT_EQ(saved.samples, 5523);
    EXPECT_EQ(std::filesystem::file_size(element), kWaveHeaderSize + 5523 + 1);  // and its pad byte
}

TEST_F(MediaPlayerTest, OtherDeviceTypesAreRefusedWithTheirText) {
    player.SetDeviceType(dtCDAudio);
    EXPECT_EQ(Message([&] { player.Open(); }), *CaptureErrorText(kCaptureUnknownDeviceType));
    EXPECT_EQ(player.LastError(), kCaptureUnknownDeviceType);
    EXPECT_FALSE(player.IsOpen());
}

TEST_F(MediaPlayerTest, RefusedOpenRaisesTheDeviceTextOrUnknownErrorCode) {
    player.SetFileName((dir / "missing.wav").string());
    EXPECT_EQ(Message([&] { player.Open(); }), *CaptureErrorText(kCaptureCannotReadFile));
    EXPECT_EQ(player.LastError(), kCaptureCannotReadFile);

    fake->FailNext("open", 4711);
    player.SetFileName(element);
    EXPECT_EQ(Message([&] { player.Open(); }), "Unknown error code");
    EXPECT_EQ(player.LastError(), 4711u);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.DeviceId(), 0);
}

TEST_F(MediaPlayerTest, OpenWhileOpenClosesFirstAndARefusalLeavesItClosed) {
    OpenOnElement();
    const auto first = player.DeviceId();
    fake->FailNext("open", kCaptureNoServer);
    EXPECT_EQ(Message([&] { player.Open(); }), *CaptureErrorText(kCaptureNoServer));
    EXPECT_EQ(fake->Commands(), (Commands{"open |" + element, "close", "open |" + element}));
    EXPECT_FALSE(player.IsOpen());
    EXPECT_EQ(player.DeviceId(), 0);
    player.Open();
    EXPECT_NE(player.DeviceId(), first);
}

TEST_F(MediaPlayerTest, CommandsOnAClosedDeviceRaiseAndSendNothing) {
    for (auto command : {&TMediaPlayer::Record, &TMediaPlayer::Stop, &TMediaPlayer::Save})
        EXPECT_EQ(Message([&] { (player.*command)(); }), "No MCI device open");
    player.Close();
    EXPECT_TRUE(fake->Commands().empty());

    // Stop after an open that failed: the same.
    player.SetFileName((dir / "missing.wav").string());
    EXPECT_THROW(player.Open(), EMCIDeviceError);
    fake->ClearCommands();
    EXPECT_EQ(Message([&] { player.Stop(); }), "No MCI device open");
    EXPECT_TRUE(fake->Commands().empty());
}

TEST_F(MediaPlayerTest, SaveWithoutFileNameSendsNothing) {
    OpenOnElement();
    player.SetFileName("");
    fake->ClearCommands();
    player.Save();
    EXPECT_TRUE(fake->Commands().empty());
}

TEST_F(MediaPlayerTest, PauseAndStopSendStopTwiceAndKeepBothParts) {
    OpenOnElement();
    player.Record();
    fake->Advance(2s);
    player.Stop();  // pause
    fake->Advance(2s);
    player.Record();  // resume
    fake->Advance(1s);
    player.Stop();  // finish
    player.Stop();
    player.Save();
    player.Close();
    EXPECT_EQ(fake->Commands(), (Commands{"open |" + element, "start", "stop", "start", "stop",
                                          "stop", "save " + element, "close"}));
    EXPECT_EQ(std::filesystem::file_size(element), kWaveHeaderSize + 3 * 44100 * 4);
}

TEST_F(MediaPlayerTest, FailedCloseKeepsTheDeviceCountedOpen) {
    OpenOnElement();
    fake->FailNext("close", kCaptureServerTimeout);
    player.Close();
    EXPECT_EQ(player.LastError(), kCaptureServerTimeout);
    EXPECT_TRUE(player.IsOpen());
    EXPECT_NE(player.DeviceId(), 0);
    player.Close();
    EXPECT_FALSE(player.IsOpen());
}

TEST_F(MediaPlayerTest, DeviceErrorsOfLaterCommandsAreKeptNotRaised) {
    OpenOnElement();
    fake->FailNext("start", kCaptureServerLost);
    player.Record();
    EXPECT_EQ(player.LastError(), kCaptureServerLost);
    fake->FailNext("save", kCaptureCannotSave);
    player.Save();
    EXPECT_EQ(player.LastError(), kCaptureCannotSave);
    player.Stop();
    EXPECT_EQ(player.LastError(), 0u);
}

TEST_F(MediaPlayerTest, DestructionClosesAnOpenDeviceWithoutSaving) {
    {
        TMediaPlayer other(fake);
        other.SetFileName(element);
        other.Open();
        other.Record();
        fake->Advance(1s);
    }
    EXPECT_EQ(fake->Commands(), (Commands{"open |" + element, "start", "close"}));
    EXPECT_FALSE(fake->IsOpen());
    // The element holds what was captured, as a valid wave file.
    WaveFormat format;
    EXPECT_EQ(ReadWaveFormat(element, format), 0u);
    EXPECT_EQ(std::filesystem::file_size(element), kWaveHeaderSize + 44100 * 4);
}

TEST_F(MediaPlayerTest, NotifyValueTellsHowTheLastRecordEnded) {
    OpenOnElement();
    player.Record();
    player.Record();
    EXPECT_EQ(player.NotifyValue(), nvSuperseded);
    player.Stop();
    EXPECT_EQ(player.NotifyValue(), nvAborted);
    player.Record();
    fake->InjectFault(kCaptureServerLost);
    EXPECT_EQ(player.NotifyValue(), nvFailure);
}

TEST_F(MediaPlayerTest, AFaultDuringTheRecordingIsToldAfterwardsWithWhatWasKept) {
    OpenOnElement();
    player.Record();
    fake->Advance(1500ms);
    EXPECT_FALSE(player.Fault());
    fake->InjectFault(kCaptureDiskFull);
    fake->Advance(1s);  // nothing more is captured
    player.Stop();
    EXPECT_EQ(player.LastError(), kCaptureDiskFull);
    player.Save();
    EXPECT_EQ(player.LastError(), 0u);
    player.Close();
    const auto fault = player.Fault();
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->code, kCaptureDiskFull);
    EXPECT_EQ(fault->text, *CaptureErrorText(kCaptureDiskFull));
    EXPECT_EQ(fault->kept, 1500ms);
    // A new open starts a recording without a fault.
    player.Open();
    EXPECT_FALSE(player.Fault());
}

TEST(CaptureErrorTexts, EveryCodeHasItsOwnText) {
    std::set<std::string> texts;
    for (std::uint32_t code = kCaptureOk; code <= kCaptureNotOpen; ++code) {
        const auto text = CaptureErrorText(code);
        ASSERT_TRUE(text) << code;
        EXPECT_TRUE(texts.insert(*text).second) << *text;
    }
    EXPECT_FALSE(CaptureErrorText(kCaptureNotOpen + 1));
}

}  // namespace
}  // namespace larkspur
