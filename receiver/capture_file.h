// The capture file: every chunk appended at once, and what a failing disk refused kept and tried
// again, in order, before anything newer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "append_file.h"
#include "byte_queue.h"

namespace zentavol {

// Bytes kept for the file while it refuses them; beyond this the oldest are dropped.
inline constexpr std::size_t kCaptureBacklogLimit = std::size_t{16} * 1024 * 1024;

class CaptureFile {
  public:
    enum class Outcome {
        kStored,        // everything is in the file
        kFirstFailure,  // bytes are left over, and the last append had gone in whole
        kStillFailing,  // bytes are left over, as after the last append
    };

    explicit CaptureFile(std::size_t backlog_limit = kCaptureBacklogLimit);

    bool open(const char* name);
    // Appends the chunk after whatever earlier appends left over.
    Outcome store(std::span<const std::uint8_t> chunk);
    // Tries what earlier appends left over once more.
    Outcome retry();
    bool has_backlog() const { return !backlog_.empty(); }

  private:
    void keep(std::span<const std::uint8_t> bytes);
    void flush_backlog();
    Outcome settle();

    AppendFile file_;
    std::size_t backlog_limit_;
    ByteQueue backlog_;
    bool failing_ = false;
};

}  // namespace zentavol
