#pragma once
#include "platform/message_box.h"

#include <vector>

// The program's message boxes recorded instead of shown while the object lives (a modal box
// would block an offscreen test); the sink that was in place before comes back after.
namespace larkspur::test {

class CapturedBoxes {
public:
    CapturedBoxes() : previous_(SetMessageBoxSink([this](const MessageBoxRequest& box) { boxes.push_back(box); })) {}
    ~CapturedBoxes() { SetMessageBoxSink(std::move(previous_)); }
    CapturedBoxes(const CapturedBoxes&) = delete;
    CapturedBoxes& operator=(const CapturedBoxes&) = delete;

    std::vector<MessageBoxRequest> boxes;

private:
    MessageBoxSink previous_;
};

}  // namespace larkspur::test
