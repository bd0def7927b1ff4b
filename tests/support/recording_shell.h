#pragma once
#include "platform/shell.h"

#include <vector>

// The desktop's shell recorded instead of used while the object lives: nothing is opened and no
// mixer started. The shell in place before comes back after.
namespace larkspur::test {

class RecordingShell final : public Shell {
public:
    RecordingShell() : previous_(SetShellForTest(this)) {}
    ~RecordingShell() override { SetShellForTest(previous_); }
    RecordingShell(const RecordingShell&) = delete;
    RecordingShell& operator=(const RecordingShell&) = delete;

    void Execute(const ShellRequest& request) override { requests.push_back(request); }
    void StartVolumeControl() override { ++volumeControls; }

    std::vector<ShellRequest> requests;
    int volumeControls = 0;

private:
    Shell* previous_;
};

}  // namespace larkspur::test
