#include "platform/capture_source.h"

#include <algorithm>
#include <future>
#include <list>
#include <mutex>
#include <thread>

namespace larkspur {
namespace {
std::mutex mutex;
CaptureSources chosen;
std::thread::id selector;
// Apart from `mutex`: a watcher reads the choice.
std::mutex watchersLock;
std::list<std::function<void()>> watchers;
// Declared last, destroyed first: the exit waits for a selection still under way before the
// state it writes goes.
std::shared_future<void> pending;

void AwaitSelection() {
    std::shared_future<void> selection;
    {
        std::lock_guard lock(mutex);
        if (pending.valid() && std::this_thread::get_id() != selector) selection = pending;
    }
    if (selection.valid()) selection.wait();
}
}  // namespace

CaptureSources ChosenCaptureSources() {
    AwaitSelection();
    std::lock_guard lock(mutex);
    return chosen;
}

CaptureSource ChosenCaptureSource() {
    return FirstOf(ChosenCaptureSources());
}

void SetChosenCaptureSources(const CaptureSources& sources) {
    CaptureSources kept;
    // The server's default is no choice; a source chosen twice is mixed once.
    for (const CaptureSource& source : sources)
        if (source.kind != CaptureSource::Kind::ServerDefault &&
            std::find(kept.begin(), kept.end(), source) == kept.end())
            kept.push_back(source);
    std::lock_guard lock(mutex);
    chosen = std::move(kept);
}

void SetChosenCaptureSource(const CaptureSource& source) { SetChosenCaptureSources({source}); }

void ChooseCaptureSources(const CaptureSources& sources) {
    SetChosenCaptureSources(sources);
    std::lock_guard lock(watchersLock);
    for (const auto& chosen : watchers) chosen();
}

void ChooseCaptureSource(const CaptureSource& source) { ChooseCaptureSources({source}); }

std::shared_ptr<void> WatchCaptureSourceChoice(std::function<void()> chosen) {
    std::lock_guard lock(watchersLock);
    const auto at = watchers.insert(watchers.end(), std::move(chosen));
    return std::shared_ptr<void>(nullptr, [at](void*) {
        std::lock_guard lock(watchersLock);
        watchers.erase(at);
    });
}

void SelectCaptureSourceInBackground(std::function<void()> select) {
    AwaitSelection();
    std::lock_guard lock(mutex);
    pending = std::async(std::launch::async, [select = std::move(select)] {
                  {
                      std::lock_guard lock(mutex);
                      selector = std::this_thread::get_id();
                  }
                  select();
              }).share();
}

}  // namespace larkspur
