// The echo: a view of the capture on standard output, written by a thread of its own so that a
// console that stalls (a pipe nobody reads, a paused terminal) never holds up the capture.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>

#include "byte_queue.h"

namespace zentavol {

// Echo bytes kept while the console does not move: about 4.6 hours at 9600 bit/s.
inline constexpr std::size_t kEchoBacklogLimit = std::size_t{16} * 1024 * 1024;
// While more bytes are about to follow, the writer waits for them until this much is queued, or
// for at most the delay: one write then carries a whole burst, and waking it costs once a burst.
inline constexpr std::size_t kEchoBatchSize = std::size_t{64} * 1024;
inline constexpr std::chrono::milliseconds kEchoBatchDelay{10};

class EchoWriter {
  public:
    explicit EchoWriter(std::FILE* out, std::size_t backlog_limit = kEchoBacklogLimit);
    // Writes out everything still queued, then ends the writer.
    ~EchoWriter();
    EchoWriter(const EchoWriter&) = delete;
    EchoWriter& operator=(const EchoWriter&) = delete;

    // Queues bytes for the console without waiting for it. What does not fit into the backlog
    // is left out, and the echo shows the gap as "echo skipped N bytes" on a line of its own.
    // With more bytes about to follow, the write may wait for them (kEchoBatchDelay at most).
    void echo(std::span<const std::uint8_t> bytes, bool more_follow = false);
    // Queues one line, in order with the echo around it; never left out.
    void say(std::string_view message);
    // Waits until everything queued has been written, for at most the timeout (a console that
    // does not move may never take it); true when it was.
    bool drain_within(std::chrono::milliseconds timeout);

  private:
    void run();
    // With the lock held: queues the mark for bytes left out since the last one.
    void mark_gap();
    // With the lock held: wakes the writer where it waits for what has just become true.
    void wake_writer_if_due(std::unique_lock<std::mutex>& lock);

    std::FILE* out_;
    std::size_t backlog_limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;  // the writer has finished a write
    ByteQueue queued_;
    std::size_t echo_queued_ = 0;   // echo bytes in queued_ ...
    std::size_t echo_writing_ = 0;  // ... and in the writer's hands
    std::size_t in_hand_ = 0;       // bytes of any kind the writer is writing
    std::uint64_t skipped_ = 0;     // left out since the last mark
    bool write_now_ = false;        // what is queued is to be written without waiting for more
    bool writer_idle_ = false;      // the writer sleeps until anything at all is queued
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace zentavol
