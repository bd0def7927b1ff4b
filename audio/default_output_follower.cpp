#include "audio/default_output_follower.h"

namespace larkspur {

void DefaultOutputFollower::LookUp() {
    known_ = false;
    failed_ = false;
    pa_operation* op = pa_context_get_server_info(
        connection_.Context(),
        [](pa_context* c, const pa_server_info* info, void* self) {
            auto* follower = static_cast<DefaultOutputFollower*>(self);
            const char* sink = info ? info->default_sink_name : nullptr;
            pa_operation* op = sink ? pa_context_get_sink_info_by_name(
                                          c, sink,
                                          [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                                              auto* follower = static_cast<DefaultOutputFollower*>(self);
                                              if (eol < 0) return follower->NotFound();
                                              if (!info) return;
                                              follower->Found(info->monitor_source_name,
                                                              info->description ? info->description : info->name);
                                          },
                                          self)
                                    : nullptr;
            if (op) return pa_operation_unref(op);
            follower->NotFound();
        },
        this);
    if (op) pa_operation_unref(op);
}

void DefaultOutputFollower::Found(const char* monitor, std::string words) {
    // An output without a monitor has nothing to record.
    if (!monitor || !*monitor) return NotFound();
    monitor_ = monitor;
    words_ = "Stereo Mix: " + words;
    known_ = true;
    failed_ = false;
    changed_();
    connection_.Signal();
}

void DefaultOutputFollower::NotFound() {
    known_ = false;
    failed_ = true;
    changed_();
    connection_.Signal();
}

}  // namespace larkspur
