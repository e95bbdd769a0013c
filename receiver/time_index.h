// The time index beside the capture: FILE.times, one entry a line, "TIME<TAB>OFFSET<TAB>EVENT"
// and for some events "<TAB>DETAIL". TIME is UTC with microseconds; OFFSET a byte offset in the
// capture file (for data, where the entry's first byte is stored; otherwise the file's size).
// Lines end with LF alone on every platform and are always whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>

#include "append_file.h"
#include "capture_file.h"

namespace zentavol {

using WallClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;

// Index lines kept while the index file refuses them; beyond this the oldest whole lines go.
inline constexpr std::size_t kIndexBacklogLimit = std::size_t{1} << 20;
// While a stream goes on without a pause, a data entry at least this often.
inline constexpr std::chrono::seconds kDataEntryInterval{1};
// A pause of this many character times makes the next chunk start a data entry.
inline constexpr int kQuietCharacterTimes = 10;

// "2026-12-11T14:35:23.123456Z"
std::string format_index_time(WallClock::time_point time);
// One whole index line, LF included.
std::string index_line(WallClock::time_point time, std::uint64_t offset, std::string_view event,
                       std::string_view detail = {});
// The quiet that makes the next chunk start a data entry: kQuietCharacterTimes characters of
// the line (start bit, data bits, parity bit, stop bits).
std::chrono::nanoseconds quiet_for(std::uint32_t baud, int data_bits, bool parity, int stop_bits);

// Which chunks start a data entry: the first after a quiet, and one at least every
// kDataEntryInterval while a stream goes on.
class DataEntryPolicy {
  public:
    explicit DataEntryPolicy(std::chrono::nanoseconds quiet) : quiet_(quiet) {}
    bool starts_entry(SteadyClock::time_point now);

  private:
    std::chrono::nanoseconds quiet_;
    bool any_ = false;
    SteadyClock::time_point last_chunk_{};
    SteadyClock::time_point last_entry_{};
};

// The index file: whole lines appended, and those the file refused kept and tried again in
// order, as the capture's own bytes are.
class IndexFile {
  public:
    explicit IndexFile(std::size_t backlog_limit = kIndexBacklogLimit)
        : backlog_limit_(backlog_limit) {}
    bool open(const char* name);
    // Opens the name anew; the file held so far stays held when that cannot be opened.
    bool reopen(const char* name);
    void add(std::string line);
    // Tries the lines the file refused once more.
    void retry();
    bool has_backlog() const { return !pending_.empty(); }

  private:
    AppendFile file_;
    std::size_t backlog_limit_;
    std::deque<std::string> pending_;
    std::size_t pending_bytes_ = 0;
    std::size_t front_written_ = 0;  // of the first pending line, already in the file
};

// The receiver's time index: marks the chunks that start data entries, and writes an entry for
// each once its first byte is stored, and for everything that happened to the capture file.
class TimeIndex {
  public:
    explicit TimeIndex(std::chrono::nanoseconds quiet) : quiet_(quiet), policy_(quiet) {}
    bool open(const char* name) { return file_.open(name); }
    // A new index under the name (after a rotation); the next chunk starts a data entry in it.
    void reopen(const char* name);
    // The receiver ends on a signal.
    void closed(std::uint64_t offset);
    // The port is held and configured: its name as given and the line in words.
    void opened(std::uint64_t offset, std::string_view port, std::string_view line);
    void lost(std::uint64_t offset);
    // A chunk has just been read: marks its first byte when it starts a data entry.
    void chunk_read(CaptureFile& capture);
    // Entries for what the capture file reported.
    void record(std::span<const CaptureEvent> events);
    void retry() { file_.retry(); }
    bool has_backlog() const { return file_.has_backlog(); }

  private:
    IndexFile file_;
    std::chrono::nanoseconds quiet_;
    DataEntryPolicy policy_;
    std::uint64_t next_tag_ = 0;
    // When each marked chunk was read, by tag, oldest first.
    std::deque<std::pair<std::uint64_t, WallClock::time_point>> marked_;
};

}  // namespace zentavol
