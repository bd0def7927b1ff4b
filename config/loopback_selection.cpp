#include "config/loopback_selection.h"

#include "platform/mixer.h"

#include <algorithm>

namespace larkspur {
namespace {

void Select(Mixer& mixer) {
    MixerLine line;
    if (!mixer.LineInfoByComponentType(mixer::kComponentTypeDstWaveIn, line)) return;

    std::vector<MixerControl> controls;
    if (!mixer.LineControls(line.line_id, line.controls, controls)) return;
    const auto list = std::find_if(controls.begin(), controls.end(), [](const MixerControl& c) {
        return (c.type & mixer::kControlClassMask) == mixer::kControlClassList;
    });
    if (list == controls.end()) return;

    const std::uint32_t channels = list->flags & mixer::kControlFlagUniform ? 1 : line.channels;
    const std::uint32_t items = list->flags & mixer::kControlFlagMultiple ? list->items : 0;
    const MixerDetails details{list->control_id, channels, items};
    const std::size_t records = std::size_t{channels} * items;

    std::vector<std::string> names;
    std::vector<std::uint32_t> values;
    // Nothing goes on with records that a call did not fill in.
    if (!mixer.ListTexts(details, names) || names.size() != records) return;
    if (!mixer.Values(details, values) || values.size() != records) return;

    // A line without channels would never advance k; it has no records either.
    for (std::uint32_t k = 0; channels > 0 && k < items; k += channels) {
        const std::uint32_t on = names[k] == "Stereo Mix" ? 1 : 0;
        values[k] = on;
        values[k + channels - 1] = on;
    }
    mixer.SetValues(details, values);
}

}  // namespace

void SelectLoopbackSource(Mixer& mixer) {
    if (!mixer.Open(0)) return;
    Select(mixer);
    mixer.Close();
}

}  // namespace larkspur
