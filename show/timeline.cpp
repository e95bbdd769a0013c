#include "timeline.h"

#include <algorithm>
#include <charconv>

namespace zentavol::show {
namespace {

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    const auto value = number(text.substr(at, count));
    return value ? std::optional(static_cast<int>(*value)) : std::nullopt;
}

std::optional<Event> event_named(std::string_view word) {
    constexpr std::pair<std::string_view, Event> kEvents[] = {
        {"open", Event::kOpen},
        {"data", Event::kData},
        {"lost", Event::kLost},
        {"append-failed", Event::kAppendFailed},
        {"append-resumed", Event::kAppendResumed},
        {"dropped", Event::kDropped},
        {"close", Event::kClose},
    };
    const auto* found =
        std::ranges::find(kEvents, word, &std::pair<std::string_view, Event>::first);
    return found == std::end(kEvents) ? std::nullopt : std::optional(found->second);
}

}  // namespace

std::optional<Micros> parse_index_time(std::string_view text) {
    using namespace std::chrono;
    // YYYY-MM-DDTHH:MM:SS.uuuuuuZ
    if (text.size() != 27 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != '.' || text[26] != 'Z') {
        return std::nullopt;
    }
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    const auto micro = digits(text, 20, 6);
    if (!year || !month || !day || !hour || !minute || !second || !micro || *hour > 23 ||
        *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    const year_month_day date{std::chrono::year(*year),
                              std::chrono::month(static_cast<unsigned>(*month)),
                              std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok()) {
        return std::nullopt;
    }
    return sys_days(date) + hours(*hour) + minutes(*minute) + seconds(*second) +
           microseconds(*micro);
}

Index read_index(std::string_view text, std::uint64_t capture_size) {
    Index index;
    std::optional<std::uint64_t> last_offset;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) {
            ++index.unreadable;  // cut short
            break;
        }
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto tab1 = line.find('\t');
        const auto tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) {
            ++index.unreadable;
            continue;
        }
        const auto tab3 = line.find('\t', tab2 + 1);
        const auto time = parse_index_time(line.substr(0, tab1));
        const auto offset = number(line.substr(tab1 + 1, tab2 - tab1 - 1));
        const std::string_view word = line.substr(
            tab2 + 1, tab3 == std::string_view::npos ? std::string_view::npos : tab3 - tab2 - 1);
        if (!time || !offset || word.empty() || *offset > capture_size ||
            (last_offset && *offset < *last_offset)) {
            ++index.unreadable;
            continue;
        }
        const auto event = event_named(word);
        if (!event) {
            continue;  // a later version's event
        }
        IndexEntry entry{*time, *offset, *event, ""};
        if (tab3 != std::string_view::npos) {
            entry.detail = line.substr(tab3 + 1);
        }
        if (entry.event == Event::kDropped && !number(entry.detail)) {
            ++index.unreadable;
            continue;
        }
        last_offset = *offset;
        index.entries.push_back(std::move(entry));
    }
    return index;
}

std::optional<std::chrono::nanoseconds> character_time(std::string_view line) {
    std::uint64_t values[4] = {};
    std::string_view parity;
    for (int field = 0; field < 5; ++field) {
        const auto end = line.find(' ');
        const std::string_view word = line.substr(0, end);
        line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
        if (field == 2) {
            parity = word;
            continue;
        }
        if (field == 4) {
            break;
        }
        const auto value = number(word);
        if (!value) {
            return std::nullopt;
        }
        values[field < 2 ? field : field - 1] = *value;
    }
    const auto [baud, data_bits, stop_bits, unused] = values;
    if (baud == 0) {
        return std::nullopt;
    }
    const std::uint64_t bits = 1 + data_bits + (parity == "none" ? 0 : 1) + stop_bits;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(bits * 1'000'000'000ULL / baud));
}

Timeline::Timeline(const std::vector<IndexEntry>& entries) {
    // Without an open before it (an index begun elsewhere), a byte is taken to come at once.
    std::chrono::nanoseconds current{0};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        if (entry.event == Event::kOpen) {
            const auto tab = entry.detail.find('\t');
            current = tab == std::string::npos
                          ? std::chrono::nanoseconds{0}
                          : character_time(entry.detail.substr(tab + 1)).value_or(current);
        }
        if (entry.event != Event::kData) {
            continue;
        }
        std::optional<Micros> limit;
        if (i + 1 < entries.size()) {
            limit = entries[i + 1].time;
        }
        spans_.push_back({entry.offset, entry.time, current, limit});
    }
}

Micros Timeline::time_in(const Span& span, std::uint64_t offset) const {
    const auto after = std::chrono::duration_cast<std::chrono::microseconds>(
        span.character_time * static_cast<std::int64_t>(offset - span.offset));
    const Micros time = span.time + after;
    return span.limit ? std::min(time, std::max(*span.limit, span.time)) : time;
}

std::optional<Micros> Timeline::time_of(std::uint64_t offset) const {
    // The latest span that begins at or before the offset.
    const auto after = std::ranges::upper_bound(spans_, offset, {}, &Span::offset);
    if (after == spans_.begin()) {
        return std::nullopt;
    }
    return time_in(*std::prev(after), offset);
}

std::vector<ByteRange> Timeline::bytes_within(std::uint64_t size, Micros since,
                                              Micros until) const {
    std::vector<ByteRange> ranges;
    for (std::size_t i = 0; i < spans_.size(); ++i) {
        const Span& span = spans_[i];
        const std::uint64_t end =
            std::min(size, i + 1 < spans_.size() ? spans_[i + 1].offset : size);
        if (span.offset >= end) {
            continue;
        }
        // Times grow with the offset within a span: the first byte at or after each bound.
        const auto first_at_or_after = [&](Micros bound) {
            std::uint64_t low = span.offset;
            std::uint64_t high = end;
            while (low < high) {
                const std::uint64_t middle = low + (high - low) / 2;
                if (time_in(span, middle) < bound) {
                    low = middle + 1;
                } else {
                    high = middle;
                }
            }
            return low;
        };
        const std::uint64_t begin = first_at_or_after(since);
        const std::uint64_t stop = first_at_or_after(until);
        if (begin >= stop) {
            continue;
        }
        if (!ranges.empty() && ranges.back().end == begin) {
            ranges.back().end = stop;
        } else {
            ranges.push_back({begin, stop});
        }
    }
    return ranges;
}

}  // namespace zentavol::show
