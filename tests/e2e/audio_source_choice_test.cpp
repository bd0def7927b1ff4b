// What the recorder records, chosen by the user: a program's own sound, an input, a change during
// a recording, and a move made in another mixer; on a real sound server with real programs
// playing (see tests/fixtures).
#include "audio/media_player.h"
#include "platform/capture_source.h"
#include "tests/support/audio_checks.h"
#include "tests/support/test_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace larkspur {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ExtraSink;
using test::RunCommand;
using test::Tone;
using test::ToneLevelDb;
using test::TonePlayer;

constexpr double kHalfScaleDb = -6.02;  // the level of every test tone
constexpr double kLengthTolerance = 0.150;  // seconds

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class SourceChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::getenv("PULSE_SERVER")) << "run inside with-fixtures.sh";
        ASSERT_TRUE(mic.Loaded() && other.Loaded());
    }
    void TearDown() override { SetChosenCaptureSource({}); }

    // A tone that plays for the whole test, as a program of its own.
    static std::unique_ptr<TonePlayer> Play(const std::string& sink, double frequency, const std::string& program,
                                            double seconds = 30) {
        auto player = std::make_unique<TonePlayer>(sink, seconds, std::vector<std::string>{},
                                                   Tone{frequency, program});
        EXPECT_TRUE(player->Started());
        return player;
    }

    void Open(TMediaPlayer& player) {
        test::WriteWaveTemplate(element, {2, 44100, 16});
        player.SetDeviceType(dtAutoSelect);
        player.SetFileName(element);
        player.Open();
    }

    // Runs each step at its time (seconds from Record), then stops at `end`; returns the wall
    // time from Record to Stop.
    double Record(TMediaPlayer& player, const std::vector<std::pair<double, std::function<void()>>>& steps,
                  double end) {
        const auto start = recordPressed = Clock::now();
        player.Record();
        for (const auto& [at, step] : steps) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(at));
            step();
        }
        std::this_thread::sleep_until(start + std::chrono::duration<double>(end));
        const double wall = Seconds(Clock::now() - start);
        player.Stop();
        EXPECT_EQ(player.LastError(), 0u);
        player.Save();
        player.Close();
        EXPECT_FALSE(player.Fault());
        return wall;
    }

    double Length() const {
        const auto info = test::ReadSoxInfo(element);
        return info.rate > 0 ? double(info.samples) / info.rate : 0;
    }

    // Seconds since the last Record.
    double SinceRecord() const { return Seconds(Clock::now() - recordPressed); }

    // The tone at `frequency` is what [start, start + length) holds, with every other tone of
    // the test at least 60 dB below it. Its level allows a null sink that wakes late on a busy
    // machine; a source missing from the window reads far below.
    void ExpectOnly(double frequency, double start, double length) const {
        for (const double f : {1000.0, 2000.0, 3000.0}) {
            const double db = ToneLevelDb(element, start, length, f);
            if (f == frequency)
                EXPECT_NEAR(db, kHalfScaleDb, 3.0) << f << " Hz at " << start << " s";
            else
                EXPECT_LT(db, kHalfScaleDb - 60) << f << " Hz at " << start << " s";
        }
    }

    ExtraSink mic{"mic_sink"};  // its monitor stands in for a microphone
    ExtraSink other{"other"};
    Clock::time_point recordPressed;
    test::TestFolder folder{"larkspur-choice"};
    std::string element = (folder.Path() / "~temp.wav").string();
};

// Two programs play at once, one to an output that is not the default: the recording holds the
// chosen one's sound only, followed when it ends and plays again, as silence in between.
TEST_F(SourceChoiceTest, AProgramChosenIsRecordedAloneAndFollowedAcrossItsStreams) {
    auto chosen = Play("other", 1000, "ToneA", 2.5);
    const auto noise = Play(test::TestSink(), 3000, "ToneB");
    ChooseCaptureSource({CaptureSource::Kind::Program, "ToneA"});
    TMediaPlayer player;
    Open(player);
    EXPECT_EQ(player.SourceDescription(), "ToneA");
    std::unique_ptr<TonePlayer> again;
    double playsAgain = 0;  // when the program's new stream is up and playing
    // The first stream ends at about 2.2 s from Record; the program plays anew from about 4 s.
    const double wall = Record(player,
                               {{3.9,
                                 [&] {
                                     again = Play(test::TestSink(), 1000, "ToneA");
                                     playsAgain = SinceRecord();
                                 }}},
                               8);
    EXPECT_NEAR(Length(), wall, kLengthTolerance);
    ExpectOnly(1000, 0.2, 1.6);
    EXPECT_LT(ToneLevelDb(element, 2.7, 1, 1000), kHalfScaleDb - 60);  // the program played nothing
    // Followed within a quarter second of playing.
    ASSERT_LT(playsAgain, 6.5) << "the program took too long to start again";
    ExpectOnly(1000, playsAgain + 0.25, 7.8 - playsAgain - 0.25);
}

// A choice made during a recording applies at once: the stream moves from what the computer
// plays to an input, then is made anew for a program, each seam where the choice was made, and
// the file keeps to the clock.
TEST_F(SourceChoiceTest, AChoiceDuringARecordingAppliesAtOnceWithAContinuousTimeline) {
    const auto speakers = Play(test::TestSink(), 3000, "Speakers");
    const auto input = Play("mic_sink", 1000, "Voice");
    const auto program = Play("other", 2000, "Player");
    ChooseCaptureSource({CaptureSource::Kind::DefaultOutputMonitor, {}});
    TMediaPlayer player;
    Open(player);
    const double wall = Record(
        player,
        {{2, [] { ChooseCaptureSource({CaptureSource::Kind::Named, "mic_sink.monitor"}); }},
         {4, [] { ChooseCaptureSource({CaptureSource::Kind::Program, "Player"}); }}},
        6);
    EXPECT_EQ(player.SourceDescription(), "Player");
    EXPECT_NEAR(Length(), wall, kLengthTolerance);
    ExpectOnly(3000, 0.2, 1.6);
    ExpectOnly(1000, 2.25, 1.5);
    ExpectOnly(2000, 4.25, 1.5);
    // Each change takes hold within a quarter second of the choice.
    EXPECT_LT(ToneLevelDb(element, 2.25, 1.5, 3000), kHalfScaleDb - 60);
    EXPECT_GT(ToneLevelDb(element, 1.75, 0.25, 3000), kHalfScaleDb - 12);
    EXPECT_GT(ToneLevelDb(element, 3.75, 0.25, 1000), kHalfScaleDb - 12);
}

// A move of the recorder's stream made with pactl is the user's: kept to the end, and it becomes
// the selection. An input chosen stays put when the default output changes.
TEST_F(SourceChoiceTest, AMoveMadeElsewhereIsKeptAndAnInputChosenStays) {
    const auto speakers = Play(test::TestSink(), 3000, "Speakers");
    const auto input = Play("mic_sink", 1000, "Voice");
    ChooseCaptureSource({CaptureSource::Kind::DefaultOutputMonitor, {}});
    {
        TMediaPlayer player;
        Open(player);
        // The recorder's stream is the one its client made ("Larkspur"), as a mixer shows it.
        const auto moveToInput = [] {
            std::istringstream lines(RunCommand({"pactl", "list", "source-outputs"}, 5s, false).output);
            std::string index;
            for (std::string line; std::getline(lines, line);) {
                if (line.starts_with("Source Output #")) index = line.substr(15);
                if (line.find("application.name = \"Larkspur\"") != std::string::npos) {
                    EXPECT_EQ(RunCommand({"pactl", "move-source-output", index, "mic_sink.monitor"}).status, 0);
                }
            }
        };
        const double wall = Record(player, {{2, moveToInput}}, 6);
        EXPECT_NEAR(Length(), wall, kLengthTolerance);
        ExpectOnly(3000, 0.2, 1.6);
        ExpectOnly(1000, 2.5, 3.3);
        const CaptureSource now = ChosenCaptureSource();
        EXPECT_EQ(now.kind, CaptureSource::Kind::Named);
        EXPECT_EQ(now.name, "mic_sink.monitor");
    }
    // The server moves the streams of the old default output to the new one: the speakers'
    // tone goes to `other`, and the input still holds its own.
    ChooseCaptureSource({CaptureSource::Kind::Named, "mic_sink.monitor"});
    TMediaPlayer player;
    Open(player);
    Record(player, {{1.5, [] { RunCommand({"pactl", "set-default-sink", "other"}); }}}, 4);
    RunCommand({"pactl", "set-default-sink", test::TestSink()});
    ExpectOnly(1000, 0.2, 3.6);
}

}  // namespace
}  // namespace larkspur
