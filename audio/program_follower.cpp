#include "audio/program_follower.h"

#include "platform/pulse_program.h"

namespace larkspur {

void ProgramFollower::LookFor(const std::string& program) {
    program_ = program;
    if (looking_) {
        again_ = true;
        return;
    }
    candidate_.reset();
    looking_ = true;
    again_ = false;
    pa_operation* op = pa_context_get_sink_input_info_list(connection_.Context(), PlaybackListed, this);
    if (op) return Hold(op);
    looking_ = false;
}

ProgramFollower::~ProgramFollower() {
    // No answer reaches a follower that is gone.
    if (!pending_) return;
    pa_operation_cancel(pending_);
    pa_operation_unref(pending_);
}

void ProgramFollower::Hold(pa_operation* op) {
    if (pending_) pa_operation_unref(pending_);
    pending_ = op;
}

void ProgramFollower::Forget() {
    program_.clear();
    looking_ = again_ = false;
    candidate_.reset();
}

void ProgramFollower::PlaybackListed(pa_context* c, const pa_sink_input_info* info, int eol, void* self) {
    auto* follower = static_cast<ProgramFollower*>(self);
    if (!follower->looking_) return;  // forgotten meanwhile
    if (eol == 0 && info) {
        if (!follower->candidate_ && !follower->program_.empty() && ProgramOf(info->proplist).name == follower->program_)
            follower->candidate_ = Candidate{info->index, info->sink};
        return;
    }
    follower->looking_ = false;
    follower->connection_.Signal();
    // Asked again meanwhile (another program, or a stream that came): the list is read anew.
    if (follower->again_) return follower->LookFor(follower->program_);
    if (!follower->candidate_) return;
    pa_operation* op = pa_context_get_sink_info_by_index(c, follower->candidate_->sink, OutputFound, self);
    if (op) return follower->Hold(op);
    follower->candidate_.reset();
}

void ProgramFollower::OutputFound(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* follower = static_cast<ProgramFollower*>(self);
    if (!follower->candidate_) return;  // forgotten meanwhile
    if (info && info->monitor_source_name) {
        const Playback found{follower->program_, follower->candidate_->input, info->monitor_source_name};
        follower->candidate_.reset();
        follower->found_(found);
    }
    // The output went meanwhile: the program is looked for again at its next change.
    if (eol != 0) follower->candidate_.reset();
    follower->connection_.Signal();
}

}  // namespace larkspur
