#include "echo_writer.h"

#include <string>

namespace zentavol {

EchoWriter::EchoWriter(std::FILE* out, std::size_t backlog_limit)
    : out_(out), backlog_limit_(backlog_limit), writer_([this] { run(); }) {}

EchoWriter::~EchoWriter() {
    {
        const std::scoped_lock lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void EchoWriter::mark_gap() {
    if (skipped_ > 0) {
        queued_.append("\necho skipped " + std::to_string(skipped_) + " bytes\n");
        skipped_ = 0;
    }
}

// The writer waits in one of two places, each on its own condition (see run): asleep, for
// anything queued; or, once a burst has begun, for write_now_. A notification is due exactly
// when the condition of the place where it may be waiting has become true; at any other time it
// is either writing, and looks at both conditions before it waits again, or it would wake for
// nothing.
void EchoWriter::wake_writer_if_due(std::unique_lock<std::mutex>& lock) {
    const bool due = (writer_idle_ && !queued_.empty()) || write_now_;
    lock.unlock();
    if (due) {
        wake_.notify_one();
    }
}

void EchoWriter::echo(std::span<const std::uint8_t> bytes, bool more_follow) {
    std::unique_lock lock(mutex_);
    const std::size_t held = echo_queued_ + echo_writing_;
    const std::size_t room = held < backlog_limit_ ? backlog_limit_ - held : 0;
    const std::size_t kept = std::min(bytes.size(), room);
    if (kept > 0) {
        mark_gap();
        queued_.append(bytes.first(kept));
        echo_queued_ += kept;
    }
    skipped_ += bytes.size() - kept;
    // A gap is shown as soon as the writer can, so that it is never held back behind a stall.
    write_now_ = write_now_ || !more_follow || echo_queued_ >= kEchoBatchSize || skipped_ > 0;
    wake_writer_if_due(lock);
}

void EchoWriter::say(std::string_view message) {
    std::unique_lock lock(mutex_);
    mark_gap();
    queued_.append(message);
    queued_.append("\n");
    write_now_ = true;
    wake_writer_if_due(lock);
}

bool EchoWriter::drain_within(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    write_now_ = true;
    lock.unlock();
    wake_.notify_one();
    lock.lock();
    return written_.wait_for(lock, timeout, [&] { return queued_.empty() && in_hand_ == 0; });
}

void EchoWriter::run() {
    ByteQueue batch;
    for (;;) {
        std::unique_lock lock(mutex_);
        // Only bytes that the writer holds count against the backlog limit, and it holds none
        // while it waits.
        echo_writing_ = 0;
        in_hand_ = 0;
        written_.notify_all();
        writer_idle_ = true;
        wake_.wait(lock, [&] { return !queued_.empty() || stopping_; });
        writer_idle_ = false;
        // A burst has begun: its rest, up to a batch, goes out in the same write.
        wake_.wait_for(lock, kEchoBatchDelay, [&] { return write_now_ || stopping_; });
        write_now_ = false;
        // Bytes left out after everything queued: the gap is here.
        mark_gap();
        if (queued_.empty()) {
            return;  // stopping, and everything is written
        }
        batch.swap(queued_);
        in_hand_ = batch.size();
        echo_writing_ = echo_queued_;
        echo_queued_ = 0;
        lock.unlock();

        // Everything queued in one go. A console that has gone away only makes it fail.
        while (!batch.empty()) {
            const auto bytes = batch.front();
            std::fwrite(bytes.data(), 1, bytes.size(), out_);
            batch.pop(bytes.size());
        }
        std::fflush(out_);
        std::clearerr(out_);
    }
}

}  // namespace zentavol
