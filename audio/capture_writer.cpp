#include "audio/capture_writer.h"


namespace larkspur {

CaptureWriter::CaptureWriter(GrowingWaveFile& file) : file_(file), thread_([this] { Run(); }) {}

CaptureWriter::~CaptureWriter() {
    {
        const std::lock_guard lock(lock_);
        quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void CaptureWriter::Restart(std::uint32_t bytesPerSecond) {
    bytesPerSecond_ = bytesPerSecond;
    queued_ = synced_ = 0;
    written_ = 0;
    fault_ = 0;
}

void CaptureWriter::Append(const void* data, std::size_t bytes) {
    const auto* from = static_cast<const std::uint8_t*>(data);
    Push({std::vector<std::uint8_t>(from, from + bytes), 0}, bytes);
}

void CaptureWriter::AppendSilence(std::size_t bytes) { Push({{}, bytes}, bytes); }

void CaptureWriter::Push(Chunk chunk, std::size_t bytes) {
    if (fault_ != 0 || bytes == 0) return;
    queued_ += bytes;
    {
        const std::lock_guard lock(lock_);
        queue_.push_back(std::move(chunk));
    }
    wake_.notify_one();
}

void CaptureWriter::Drain() {
    std::unique_lock lock(lock_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    lock.unlock();
    Sync();
}

void CaptureWriter::Sync() {
    if (!file_.Begun() || file_.DataBytes() == synced_) return;
    file_.SyncHeader();
    file_.KeepNamed();
    synced_ = file_.DataBytes();
}

void CaptureWriter::Run() {
    std::unique_lock lock(lock_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Chunk chunk = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        if (fault_ == 0) {
            const std::uint32_t code =
                chunk.data.empty() ? file_.AppendSilence(chunk.silence) : file_.Append(chunk.data.data(), chunk.data.size());
            written_ = file_.DataBytes();
            if (code != 0) {
                fault_ = code;
            } else if (file_.DataBytes() - synced_ >= bytesPerSecond_ / 2) {
                Sync();
            }
        }
        lock.lock();
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

}  // namespace larkspur
