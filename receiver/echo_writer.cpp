#include "echo_writer.h"

namespace zentavol {
namespace {

// A batch larger than this is given back to the allocator once written.
constexpr std::size_t kKeptBatchCapacity = std::size_t{1} << 20;

}  // namespace

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
        queued_ += "\necho skipped " + std::to_string(skipped_) + " bytes\n";
        skipped_ = 0;
    }
}

void EchoWriter::echo(std::span<const std::uint8_t> bytes, bool more_follow) {
    bool wake = false;
    {
        const std::scoped_lock lock(mutex_);
        const std::size_t held = echo_queued_ + echo_writing_;
        const std::size_t room = held < backlog_limit_ ? backlog_limit_ - held : 0;
        const std::size_t kept = std::min(bytes.size(), room);
        if (kept > 0) {
            mark_gap();
            queued_.append(reinterpret_cast<const char*>(bytes.data()), kept);
            echo_queued_ += kept;
        }
        skipped_ += bytes.size() - kept;
        released_ = released_ || !more_follow || echo_queued_ >= kEchoBatchSize || skipped_ > 0;
        // The writer is woken only from its wait: to write, or, from its sleep, to start waiting
        // for the rest of a burst. While it writes, it takes the rest afterwards.
        wake = writer_waiting_ && (released_ || writer_asleep_);
        writer_waiting_ = writer_waiting_ && !wake;
    }
    if (wake) {
        wake_.notify_one();
    }
}

void EchoWriter::say(std::string_view message) {
    bool wake = false;
    {
        const std::scoped_lock lock(mutex_);
        mark_gap();
        queued_.append(message);
        queued_ += '\n';
        released_ = true;
        wake = writer_waiting_;
        writer_waiting_ = false;
    }
    if (wake) {
        wake_.notify_one();
    }
}

void EchoWriter::run() {
    std::string batch;
    // After a write the writer lingers for kEchoBatchDelay, waiting for the rest of a burst
    // without being woken for its first bytes; then it sleeps until bytes come.
    bool linger = false;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            echo_writing_ = 0;
            while (!stopping_ && !released_) {
                writer_waiting_ = true;
                if (queued_.empty() && !linger) {
                    writer_asleep_ = true;
                    wake_.wait(lock);
                    writer_asleep_ = false;
                } else if (wake_.wait_for(lock, kEchoBatchDelay) == std::cv_status::timeout) {
                    if (!queued_.empty()) {
                        break;  // the rest of the burst did not come soon: write what is here
                    }
                    linger = false;
                }
            }
            writer_waiting_ = false;
            released_ = false;
            // Bytes left out after everything queued: the gap is here.
            mark_gap();
            if (queued_.empty()) {
                if (stopping_) {
                    return;  // all is written
                }
                continue;
            }
            batch.swap(queued_);
            echo_writing_ = echo_queued_;
            echo_queued_ = 0;
        }
        // Everything queued in one write. A console that has gone away only makes it fail.
        std::fwrite(batch.data(), 1, batch.size(), out_);
        std::fflush(out_);
        std::clearerr(out_);
        batch.clear();
        if (batch.capacity() > kKeptBatchCapacity) {
            batch.shrink_to_fit();
        }
        linger = true;
    }
}

}  // namespace zentavol
