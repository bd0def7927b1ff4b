#include "platform/capture_source.h"

#include <mutex>

namespace larkspur {
namespace {
std::mutex mutex;
CaptureSource chosen;
}  // namespace

CaptureSource ChosenCaptureSource() {
    std::lock_guard lock(mutex);
    return chosen;
}

void SetChosenCaptureSource(const CaptureSource& source) {
    std::lock_guard lock(mutex);
    chosen = source;
}

}  // namespace larkspur
