#pragma once

namespace larkspur {

class Mixer;

// Selects the item named "Stereo Mix" (whole name, letter case included) in the recording
// destination's first list control of mixer device 0, and switches every other item off. The
// values are written back even when no item matches. Does nothing, silently, when the mixer
// can't be opened, has no such control, or a call fails.
void SelectLoopbackSource(Mixer& mixer);

}  // namespace larkspur
