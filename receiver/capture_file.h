// The capture file: every chunk appended at once, and what a failing disk refused kept and tried
// again, in order, before anything newer. It tells where each marked byte landed and what
// happened to the file on the way, for the time index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "append_file.h"
#include "byte_queue.h"

namespace zentavol {

// Bytes kept for the file while it refuses them; beyond this the oldest are dropped.
inline constexpr std::size_t kCaptureBacklogLimit = std::size_t{16} * 1024 * 1024;

// Something that happened to the file, with the file's size at that moment (for a landed mark:
// where its byte is stored).
struct CaptureEvent {
    enum class Kind {
        kLanded,         // a marked byte is in the file; `tag` says which mark
        kAppendFailed,   // appends began to fail; the size before that append
        kAppendResumed,  // appends succeed again; the size before that append
        kDropped,        // `count` kept bytes were dropped beyond the backlog's bound
    };
    Kind kind;
    std::uint64_t offset = 0;
    std::uint64_t tag = 0;
    std::uint64_t count = 0;
};

class CaptureFile {
  public:
    enum class Outcome {
        kStored,        // everything is in the file
        kFirstFailure,  // bytes are left over, and the last append had gone in whole
        kStillFailing,  // bytes are left over, as after the last append
    };

    explicit CaptureFile(std::size_t backlog_limit = kCaptureBacklogLimit);

    bool open(const char* name);
    // Opens the name again (a rotation program has renamed the file): from here on the bytes go
    // to what the name is now. The file held so far stays held when that cannot be opened.
    bool reopen(const char* name);
    // Marks the first byte of the next chunk: once it is in the file, a kLanded event with this
    // tag says where. A mark whose byte is dropped is dropped with it.
    void mark(std::uint64_t tag);
    // Appends the chunk after whatever earlier appends left over.
    Outcome store(std::span<const std::uint8_t> chunk);
    // Tries what earlier appends left over once more.
    Outcome retry();
    bool has_backlog() const { return !backlog_.empty(); }
    std::size_t backlog_size() const { return backlog_.size(); }
    // The bytes in the file now.
    std::uint64_t size() const { return size_; }
    // What happened since the last call, in order; offsets never go back.
    std::vector<CaptureEvent> take_events();

  private:
    struct Mark {
        std::uint64_t position;  // in the stream of bytes handed to store
        std::uint64_t tag;
    };
    // Appends the bytes that begin at the given stream position; gives how many went in.
    std::size_t append(std::span<const std::uint8_t> bytes, std::uint64_t position);
    void keep(std::span<const std::uint8_t> bytes);
    void flush_backlog();
    Outcome settle(std::size_t events_before);
    std::uint64_t backlog_position() const { return received_ - backlog_.size(); }

    AppendFile file_;
    std::size_t backlog_limit_;
    ByteQueue backlog_;
    std::uint64_t received_ = 0;  // bytes handed to store so far
    std::uint64_t size_ = 0;
    std::uint64_t size_before_flush_ = 0;
    bool failing_ = false;
    std::deque<Mark> marks_;
    std::vector<CaptureEvent> events_;
};

}  // namespace zentavol
