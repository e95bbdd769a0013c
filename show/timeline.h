// Reading a capture's time index, and from it the time of every byte: each byte belongs to the
// latest data entry at or before it and came one character time after the byte before it, but
// never later than the entry that follows that data entry.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentavol::show {

using Micros = std::chrono::sys_time<std::chrono::microseconds>;

enum class Event { kOpen, kData, kLost, kAppendFailed, kAppendResumed, kDropped, kClose };

struct IndexEntry {
    Micros time;
    std::uint64_t offset = 0;
    Event event = Event::kData;
    std::string detail;  // the port and the line of an open, the count of a dropped
};

struct Index {
    std::vector<IndexEntry> entries;
    std::size_t unreadable = 0;  // lines skipped: malformed, cut short, or offsets out of place
};

// "2026-12-11T14:35:23.123456Z", exactly as the receiver writes it.
std::optional<Micros> parse_index_time(std::string_view text);
// Reads an index. Entries with an event word it does not know are left out; a line that cannot
// be read (a last line without its LF included), or whose offset lies past the capture's end or
// before the entry's before it, is skipped and counted.
Index read_index(std::string_view text, std::uint64_t capture_size);

// A range of bytes of the capture, [begin, end).
struct ByteRange {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

class Timeline {
  public:
    explicit Timeline(const std::vector<IndexEntry>& entries);
    // When the byte at this offset came; nothing before the first data entry.
    std::optional<Micros> time_of(std::uint64_t offset) const;
    // The bytes of [0, size) that came in [since, until), in order.
    std::vector<ByteRange> bytes_within(std::uint64_t size, Micros since, Micros until) const;

  private:
    struct Span {
        std::uint64_t offset;
        Micros time;
        std::chrono::nanoseconds character_time;
        std::optional<Micros> limit;  // the time of the entry after it
    };
    Micros time_in(const Span& span, std::uint64_t offset) const;
    std::vector<Span> spans_;
};

// The character time of a line in words ("9600 8 none 1 soft"); nothing when unreadable.
std::optional<std::chrono::nanoseconds> character_time(std::string_view line);

}  // namespace zentavol::show
