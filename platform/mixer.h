#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The sound card's mixer, in the shape of the classic mixer API: open a device, find a line by
// its component type, list the line's controls, read a list control's item names and values,
// write the values, close. Every call but Close reports whether it succeeded; a failed call fills
// nothing in.
namespace larkspur {

namespace mixer {
constexpr std::uint32_t kComponentTypeDstWaveIn = 7;  // the recording destination
constexpr std::uint32_t kControlClassMask = 0xF0000000;
constexpr std::uint32_t kControlClassList = 0x70000000;
constexpr std::uint32_t kControlTypeMux = 0x70010001;  // single-select list
constexpr std::uint32_t kControlFlagUniform = 1;      // one value for all channels
constexpr std::uint32_t kControlFlagMultiple = 2;     // the control has items
}  // namespace mixer

struct MixerLine {
    std::uint32_t line_id = 0;
    std::uint32_t channels = 0;
    std::uint32_t controls = 0;
};

struct MixerControl {
    std::uint32_t control_id = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint32_t items = 0;  // number of items of a control with the multiple flag
    std::string name;
};

// Which part of a control's details a call reads or writes: `channels` times `items` records.
struct MixerDetails {
    std::uint32_t control_id = 0;
    std::uint32_t channels = 0;
    std::uint32_t items = 0;
};

class Mixer {
public:
    virtual ~Mixer() = default;
    virtual bool Open(unsigned device) = 0;
    virtual bool LineInfoByComponentType(std::uint32_t component_type, MixerLine& line) = 0;
    // All `count` controls of the line, in the mixer's order.
    virtual bool LineControls(std::uint32_t line_id, std::uint32_t count,
                              std::vector<MixerControl>& controls) = 0;
    virtual bool ListTexts(const MixerDetails& details, std::vector<std::string>& names) = 0;
    // On/off values of a list control's items.
    virtual bool Values(const MixerDetails& details, std::vector<std::uint32_t>& values) = 0;
    virtual bool SetValues(const MixerDetails& details, const std::vector<std::uint32_t>& values) = 0;
    virtual void Close() = 0;
};

// The system's mixer: the sound server (PulseAudio, or PipeWire through its PulseAudio service).
// Device 0 is the server; its recording line has one uniform, multiple list control whose items
// are the server's sources, the default output's monitor named "Stereo Mix". Setting the values
// chooses the source this program records from (platform/capture_source.h); the server's own
// default source is never changed.
std::unique_ptr<Mixer> CreateSystemMixer();

}  // namespace larkspur
