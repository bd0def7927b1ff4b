// Runs against the private PulseAudio daemon of the test fixtures: null sink rec_sink is the
// default output.
#include "config/audio_option_form.h"
#include "config/loopback_selection.h"
#include "platform/capture_source.h"
#include "platform/mixer.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace larkspur;

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string DefaultSource() { return Shell("pactl info | sed -n 's/^Default Source: //p'"); }

std::vector<std::string> ItemNames(Mixer& m, MixerDetails& details) {
    MixerLine line;
    std::vector<MixerControl> controls;
    std::vector<std::string> names;
    EXPECT_TRUE(m.LineInfoByComponentType(mixer::kComponentTypeDstWaveIn, line));
    EXPECT_TRUE(m.LineControls(line.line_id, line.controls, controls));
    EXPECT_EQ(controls.size(), 1u);
    details = {controls.at(0).control_id, 1, controls.at(0).items};
    EXPECT_TRUE(m.ListTexts(details, names));
    return names;
}

class PulseMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr) << "needs the pulse fixture";
        module_ = Shell("pactl load-module module-null-sink sink_name=other_sink "
                      "sink_properties=device.description=OtherSink");
        ASSERT_FALSE(module_.empty());
        Shell("pactl set-default-source rec_sink.monitor");  // the server remembers a choice
        SetChosenCaptureSource({});
    }
    void TearDown() override {
        Shell("pactl set-default-sink rec_sink");
        Shell("pactl unload-module " + module_);
    }
    std::string module_;
};

TEST_F(PulseMixerTest, StartUpRecordsFromTheDefaultOutputsMonitorAndLeavesTheServerAlone) {
    Shell("pactl set-default-source other_sink.monitor");
    TAudioOptionForm form([](int) {});
    form.FormCreate();
    EXPECT_EQ(ChosenCaptureSource().kind, CaptureSource::Kind::DefaultOutputMonitor);
    EXPECT_EQ(DefaultSource(), "other_sink.monitor");
}

TEST_F(PulseMixerTest, OneListOfTheServersSourcesWithTheDefaultMonitorAsStereoMix) {
    auto m = CreateSystemMixer();
    EXPECT_FALSE(m->Open(1));
    ASSERT_TRUE(m->Open(0));
    MixerLine line;
    ASSERT_TRUE(m->LineInfoByComponentType(mixer::kComponentTypeDstWaveIn, line));
    std::vector<MixerControl> controls;
    ASSERT_TRUE(m->LineControls(line.line_id, line.controls, controls));
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].type & mixer::kControlClassMask, mixer::kControlClassList);
    EXPECT_EQ(controls[0].flags, mixer::kControlFlagUniform | mixer::kControlFlagMultiple);

    MixerDetails details;
    const auto names = ItemNames(*m, details);
    ASSERT_EQ(names.size(), 2u);  // rec_sink.monitor and other_sink.monitor, in the server's order
    EXPECT_EQ(std::count(names.begin(), names.end(), "Stereo Mix"), 1);
    const std::size_t stereo_mix = std::find(names.begin(), names.end(), "Stereo Mix") - names.begin();
    const std::size_t other = 1 - stereo_mix;
    EXPECT_NE(names[other].find("OtherSink"), std::string::npos) << names[other];

    // Nothing chosen yet: the values show the server's default source.
    std::vector<std::uint32_t> values;
    ASSERT_TRUE(m->Values(details, values));
    EXPECT_EQ(values[stereo_mix], 1u);  // rec_sink.monitor is the default source here

    values.assign(2, 0);
    values[other] = 1;
    ASSERT_TRUE(m->SetValues(details, values));
    EXPECT_EQ(ChosenCaptureSource().kind, CaptureSource::Kind::Named);
    EXPECT_EQ(ChosenCaptureSource().name, "other_sink.monitor");
    ASSERT_TRUE(m->Values(details, values));
    EXPECT_EQ(values[other], 1u);
    EXPECT_EQ(values[stereo_mix], 0u);

    values.assign(2, 0);
    ASSERT_TRUE(m->SetValues(details, values));
    EXPECT_EQ(ChosenCaptureSource().kind, CaptureSource::Kind::ServerDefault);
    EXPECT_FALSE(m->SetValues(details, {1}));  // wrong number of values
    m->Close();
    EXPECT_FALSE(m->LineInfoByComponentType(mixer::kComponentTypeDstWaveIn, line));
}

TEST_F(PulseMixerTest, StereoMixFollowsTheDefaultOutput) {
    Shell("pactl set-default-sink other_sink");
    auto m = CreateSystemMixer();
    ASSERT_TRUE(m->Open(0));
    MixerDetails details;
    const auto names = ItemNames(*m, details);
    m->Close();
    ASSERT_EQ(names.size(), 2u);
    SelectLoopbackSource(*m);
    EXPECT_EQ(ChosenCaptureSource().kind, CaptureSource::Kind::DefaultOutputMonitor);
    // The old output's monitor is now an ordinary item named by its description; the new one's is
    // "Stereo Mix" (server order: rec_sink's monitor first).
    const std::string oldMonitor = Shell(
        "pactl list sources | awk '/Name: rec_sink.monitor$/ {f = 1} "
        "f && /Description:/ {sub(/.*Description: /, \"\"); print; exit}'");
    ASSERT_FALSE(oldMonitor.empty());
    EXPECT_EQ(names, (std::vector<std::string>{oldMonitor, "Stereo Mix"}));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
