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

void EchoWriter::echo(std::span<const std::uint8_t> bytes) {
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
        // The writer is woken only from its wait; while it writes, it takes the rest afterwards.
        wake = writer_waiting_;
        writer_waiting_ = false;
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
        wake = writer_waiting_;
        writer_waiting_ = false;
    }
    if (wake) {
        wake_.notify_one();
    }
}

void EchoWriter::run() {
    std::string batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            echo_writing_ = 0;
            while (queued_.empty() && skipped_ == 0 && !stopping_) {
                writer_waiting_ = true;
                wake_.wait(lock);
            }
            writer_waiting_ = false;
            // Bytes left out after everything queued: the gap is here.
            mark_gap();
            if (queued_.empty()) {
                return;  // stopping, and all is written
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
    }
}

}  // namespace zentavol
