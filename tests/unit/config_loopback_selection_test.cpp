#include "config/loopback_selection.h"
#include "platform/capture_source.h"
#include "platform/mixer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

using namespace larkspur;

namespace {

constexpr std::uint32_t kFader = 0x50030001;  // a volume control: not of the list class
constexpr std::uint32_t kMixerList = 0x71010001;
constexpr std::uint32_t kUniformMultiple = mixer::kControlFlagUniform | mixer::kControlFlagMultiple;

enum class Step { None, Open, LineInfo, Controls, ListTexts, Values };

// A mixer whose recording line, controls, item names and values a test sets up; it records what
// the selection asked and wrote.
class FakeMixer final : public Mixer {
public:
    MixerLine line{42, 2, 0};
    std::vector<MixerControl> controls;
    std::vector<std::string> names;
    std::vector<std::uint32_t> values;
    Step fail = Step::None;
    bool short_names = false;  // hands back fewer names than asked for

    bool opened = false, closed = false;
    std::optional<MixerDetails> asked;
    std::optional<std::vector<std::uint32_t>> written;

    bool Open(unsigned device) override {
        EXPECT_EQ(device, 0u);
        return opened = fail != Step::Open;
    }
    bool LineInfoByComponentType(std::uint32_t type, MixerLine& out) override {
        EXPECT_EQ(type, 7u);
        if (fail == Step::LineInfo) return false;
        out = line;
        out.controls = static_cast<std::uint32_t>(controls.size());
        return true;
    }
    bool LineControls(std::uint32_t line_id, std::uint32_t count,
                      std::vector<MixerControl>& out) override {
        EXPECT_EQ(line_id, line.line_id);
        EXPECT_EQ(count, controls.size());
        if (fail == Step::Controls) return false;
        out = controls;
        return true;
    }
    bool ListTexts(const MixerDetails& d, std::vector<std::string>& out) override {
        asked = d;
        if (fail == Step::ListTexts) return false;
        out.assign(names.begin(), names.begin() + Records(d) - (short_names ? 1 : 0));
        return true;
    }
    bool Values(const MixerDetails& d, std::vector<std::uint32_t>& out) override {
        if (fail == Step::Values) return false;
        out.assign(values.begin(), values.begin() + Records(d));
        return true;
    }
    bool SetValues(const MixerDetails& d, const std::vector<std::uint32_t>& in) override {
        EXPECT_EQ(in.size(), Records(d));
        written = in;
        return true;
    }
    void Close() override { closed = true; }

private:
    static std::size_t Records(const MixerDetails& d) { return std::size_t{d.channels} * d.items; }
};

FakeMixer Selector(std::vector<std::string> items, std::uint32_t flags = kUniformMultiple) {
    FakeMixer m;
    m.controls = {{1, kFader, 0, 0, "Volume"},
                  {7, mixer::kControlTypeMux, flags, static_cast<std::uint32_t>(items.size()), "Mux"}};
    m.names = std::move(items);
    m.values.assign(m.names.size() * 2, 1);
    return m;
}

TEST(LoopbackSelection, UniformSelectorEndsWithOnlyStereoMixSelected) {
    FakeMixer m = Selector({"Microphone", "Line In", "Stereo Mix"});
    m.values = {1, 0, 0};
    SelectLoopbackSource(m);
    ASSERT_TRUE(m.asked);
    EXPECT_EQ(m.asked->control_id, 7u);  // the first list-class control, not the fader
    EXPECT_EQ(m.asked->channels, 1u);
    EXPECT_EQ(m.asked->items, 3u);
    EXPECT_EQ(m.written, (std::vector<std::uint32_t>{0, 0, 1}));
    EXPECT_TRUE(m.closed);
}

TEST(LoopbackSelection, OnlyTheExactNameMatchesAndNoMatchWritesAllZeros) {
    FakeMixer m = Selector({"stereo mix", "Stereo Mix 2", " Stereo Mix", "STEREO MIX", "Stereo"});
    SelectLoopbackSource(m);
    EXPECT_EQ(m.written, std::vector<std::uint32_t>(5, 0));

    FakeMixer twice = Selector({"Stereo Mix", "Mic", "Stereo Mix"});
    SelectLoopbackSource(twice);
    EXPECT_EQ(twice.written, (std::vector<std::uint32_t>{1, 0, 1}));
}

TEST(LoopbackSelection, TakesTheFirstListClassControl) {
    FakeMixer m = Selector({"Mic", "Stereo Mix"});
    m.controls.insert(m.controls.begin() + 1, {3, kMixerList, kUniformMultiple, 2, "Mixer"});
    SelectLoopbackSource(m);
    EXPECT_EQ(m.asked->control_id, 3u);
    EXPECT_EQ(m.written, (std::vector<std::uint32_t>{0, 1}));
}

// A control without the uniform flag has one record per channel and item; k steps by the
// channel count and writes value k and value k + channels - 1, so some items are never visited.
TEST(LoopbackSelection, NonUniformControlStepsByTheChannelCount) {
    FakeMixer m = Selector({"Stereo Mix", "Mic", "Line", "Stereo Mix", "Mic", "Line"},
                           mixer::kControlFlagMultiple);
    m.controls[1].items = 3;
    SelectLoopbackSource(m);
    EXPECT_EQ(m.asked->channels, 2u);
    EXPECT_EQ(m.asked->items, 3u);
    EXPECT_EQ(m.written, (std::vector<std::uint32_t>{1, 1, 0, 0, 1, 1}));
}

TEST(LoopbackSelection, ControlWithoutTheMultipleFlagHasNoItems) {
    FakeMixer m = Selector({"Stereo Mix"}, mixer::kControlFlagUniform);
    SelectLoopbackSource(m);
    EXPECT_EQ(m.asked->items, 0u);
    EXPECT_EQ(m.written, std::vector<std::uint32_t>{});
    EXPECT_TRUE(m.closed);
}

TEST(LoopbackSelection, LineWithoutChannelsDoesNotHang) {
    FakeMixer m = Selector({"Stereo Mix", "Mic"}, mixer::kControlFlagMultiple);
    m.line.channels = 0;
    SelectLoopbackSource(m);
    EXPECT_EQ(m.written, std::vector<std::uint32_t>{});
}

TEST(LoopbackSelection, StopsQuietlyWhenThereIsNothingToSelectOrACallFails) {
    FakeMixer none;
    none.fail = Step::Open;
    SelectLoopbackSource(none);
    EXPECT_FALSE(none.closed);
    EXPECT_FALSE(none.written);

    FakeMixer no_list = Selector({"Stereo Mix"});
    no_list.controls.pop_back();
    SelectLoopbackSource(no_list);
    EXPECT_FALSE(no_list.asked);
    EXPECT_FALSE(no_list.written);
    EXPECT_TRUE(no_list.closed);

    for (Step step : {Step::LineInfo, Step::Controls, Step::ListTexts, Step::Values}) {
        FakeMixer m = Selector({"Mic", "Stereo Mix"});
        m.fail = step;
        SelectLoopbackSource(m);
        EXPECT_FALSE(m.written) << static_cast<int>(step);
        EXPECT_TRUE(m.closed) << static_cast<int>(step);
    }

    FakeMixer short_names = Selector({"Mic", "Stereo Mix"});
    short_names.short_names = true;
    SelectLoopbackSource(short_names);
    EXPECT_FALSE(short_names.written);
    EXPECT_TRUE(short_names.closed);
}

TEST(SystemMixer, WithoutASoundServerNothingChangesAndNothingWaits) {
    setenv("PULSE_SERVER", "unix:/nonexistent/larkspur/native", 1);
    const CaptureSource before{CaptureSource::Kind::Named, "kept"};
    SetChosenCaptureSource(before);
    const auto start = std::chrono::steady_clock::now();
    auto mixer = CreateSystemMixer();
    SelectLoopbackSource(*mixer);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(ChosenCaptureSource().kind, before.kind);
    EXPECT_EQ(ChosenCaptureSource().name, before.name);
    MixerLine line;
    EXPECT_FALSE(mixer->Open(0));
    EXPECT_FALSE(mixer->LineInfoByComponentType(7, line));
}

// A selection in the background: every reader waits for it, the selection itself reads on.
TEST(BackgroundSelection, ReadersWaitForItAndItReadsWithoutWaitingForItself) {
    SetChosenCaptureSource({});
    std::optional<CaptureSource::Kind> seenBySelection;
    SelectCaptureSourceInBackground([&] {
        seenBySelection = ChosenCaptureSource().kind;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SetChosenCaptureSource({CaptureSource::Kind::Named, "picked"});
    });
    EXPECT_EQ(ChosenCaptureSource().name, "picked");
    EXPECT_EQ(seenBySelection, CaptureSource::Kind::ServerDefault);
    // A second selection waits for the first before it starts.
    SelectCaptureSourceInBackground([] { SetChosenCaptureSource({CaptureSource::Kind::DefaultOutputMonitor, {}}); });
    EXPECT_EQ(ChosenCaptureSource().kind, CaptureSource::Kind::DefaultOutputMonitor);
    SetChosenCaptureSource({});
}

}  // namespace
