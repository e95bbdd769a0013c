// Showing a capture for people: text lines or hexdump rows, each with the time of its first
// byte, and the index's events as lines of their own where they fall.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "timeline.h"

namespace zentavol::show {

// A capture line longer than this is cut into several, each with its own time.
inline constexpr std::size_t kLongestLine = 4096;
inline constexpr std::size_t kHexRowBytes = 16;

// One capture line as clean text: TAB and valid UTF-8 as they are; NUL as \0; every other byte
// below 0x20, 0x7F and every byte that is not part of valid UTF-8 as \xNN.
std::string clean_text(std::span<const std::uint8_t> bytes);
// "2026-12-11 15:35:23.123" in local time, or "2026-12-11T14:35:23.123Z"; milliseconds cut, not
// rounded.
std::string format_shown_time(Micros time, bool utc);
// What an event says on its line, without the time: "-- port lost --".
std::string event_text(const IndexEntry& entry);

class Renderer {
  public:
    enum class Mode { kText, kHex };
    // `events` are the non-data entries to show, in the index's order.
    Renderer(std::FILE* out, Mode mode, bool utc, const Timeline* timeline,
             std::vector<IndexEntry> events);
    // The next bytes of a selected range, from the given offset on.
    void bytes(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // The selected range ends here: what is begun is shown.
    void range_end();
    // Everything is shown, the events after the last byte too.
    void finish();

  private:
    void events_up_to(std::uint64_t offset);
    void flush();
    void write_line(std::uint64_t first_offset, const std::string& text);
    std::string prefix(std::uint64_t offset) const;

    std::FILE* out_;
    Mode mode_;
    bool utc_;
    const Timeline* timeline_;
    std::vector<IndexEntry> events_;
    std::size_t next_event_ = 0;
    std::vector<std::uint8_t> pending_;  // the line or row begun
    std::uint64_t pending_offset_ = 0;
    bool after_line_end_ = false;  // a NUL here still belongs to the line just ended
};

}  // namespace zentavol::show
