#include "render.h"

#include <algorithm>

#include "local_time.h"

namespace zentavol::show {
namespace {

// The length of the valid UTF-8 sequence that starts the bytes, or 0.
std::size_t utf8_length(std::span<const std::uint8_t> bytes) {
    const std::uint8_t lead = bytes[0];
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (bytes[i] & 0x3Fu);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

void append_hex(std::string& out, std::uint8_t byte, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

}  // namespace

std::string clean_text(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::uint8_t byte = bytes[at];
        if (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
            text += static_cast<char>(byte);
            ++at;
        } else if (byte == 0) {
            text += "\\0";
            ++at;
        } else if (const std::size_t length = byte >= 0x80 ? utf8_length(bytes.subspan(at)) : 0;
                   length > 0) {
            text.append(reinterpret_cast<const char*>(bytes.data() + at), length);
            at += length;
        } else {
            text += "\\x";
            append_hex(text, byte, true);
            ++at;
        }
    }
    return text;
}

std::string format_shown_time(Micros time, bool utc) {
    using namespace std::chrono;
    const auto millis = floor<milliseconds>(time);
    const auto whole = floor<seconds>(millis);
    const auto fraction = static_cast<int>((millis - whole).count());
    char text[48];
    if (utc) {
        const auto day = floor<days>(whole);
        const year_month_day date(day);
        const hh_mm_ss clock(whole - day);
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                      static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                      static_cast<int>(clock.minutes().count()),
                      static_cast<int>(clock.seconds().count()), fraction);
    } else {
        const CivilTime local = to_local_time(whole.time_since_epoch().count());
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.year,
                      local.month, local.day, local.hour, local.minute, local.second, fraction);
    }
    return text;
}

std::string event_text(const IndexEntry& entry) {
    switch (entry.event) {
        case Event::kOpen: {
            std::string detail = entry.detail;
            std::ranges::replace(detail, '\t', ' ');
            return "-- open " +
                   clean_text(
                       {reinterpret_cast<const std::uint8_t*>(detail.data()), detail.size()}) +
                   " --";
        }
        case Event::kLost:
            return "-- port lost --";
        case Event::kAppendFailed:
            return "-- appends failing --";
        case Event::kAppendResumed:
            return "-- appends resumed --";
        case Event::kDropped:
            return "-- " + entry.detail + " bytes dropped --";
        case Event::kClose:
            return "-- receiver ended --";
        case Event::kData:
            break;
    }
    return {};
}

Renderer::Renderer(std::FILE* out, Mode mode, bool utc, const Timeline* timeline,
                   std::vector<IndexEntry> events)
    : out_(out), mode_(mode), utc_(utc), timeline_(timeline), events_(std::move(events)) {}

std::string Renderer::prefix(std::uint64_t offset) const {
    const auto time = timeline_ != nullptr ? timeline_->time_of(offset) : std::nullopt;
    return time ? format_shown_time(*time, utc_) + " " : "";
}

void Renderer::write_line(std::uint64_t first_offset, const std::string& text) {
    const std::string line = prefix(first_offset) + text + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
}

void Renderer::events_up_to(std::uint64_t offset) {
    while (next_event_ < events_.size() && events_[next_event_].offset <= offset) {
        flush();
        const auto& event = events_[next_event_++];
        const std::string line =
            format_shown_time(event.time, utc_) + " " + event_text(event) + "\n";
        std::fwrite(line.data(), 1, line.size(), out_);
        after_line_end_ = false;
    }
}

void Renderer::flush() {
    if (pending_.empty()) {
        return;
    }
    if (mode_ == Mode::kText) {
        write_line(pending_offset_, clean_text(pending_));
    } else {
        std::string row;
        char offset_text[24];
        std::snprintf(offset_text, sizeof offset_text, "%08llx  ",
                      static_cast<unsigned long long>(pending_offset_));
        row += offset_text;
        for (std::size_t i = 0; i < kHexRowBytes; ++i) {
            if (i < pending_.size()) {
                append_hex(row, pending_[i], false);
                row += ' ';
            } else {
                row += "   ";
            }
            if (i == kHexRowBytes / 2 - 1) {
                row += ' ';
            }
        }
        row += " |";
        for (const std::uint8_t byte : pending_) {
            row += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        row += '|';
        write_line(pending_offset_, row);
    }
    pending_.clear();
}

void Renderer::bytes(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint64_t at = offset + i;
        const std::uint8_t byte = bytes[i];
        events_up_to(at);
        if (mode_ == Mode::kText && after_line_end_) {
            after_line_end_ = false;
            if (byte == 0) {
                continue;  // the sender's record ends with LF and NUL: one line
            }
        }
        if (pending_.empty()) {
            pending_offset_ = at;
        }
        if (mode_ == Mode::kText && byte == '\n') {
            if (!pending_.empty() && pending_.back() == '\r') {
                pending_.pop_back();
            }
            write_line(pending_offset_, clean_text(pending_));
            pending_.clear();
            after_line_end_ = true;
            continue;
        }
        pending_.push_back(byte);
        if (pending_.size() == (mode_ == Mode::kText ? kLongestLine : kHexRowBytes)) {
            flush();
        }
    }
}

void Renderer::range_end() {
    flush();
    after_line_end_ = false;
}

void Renderer::finish() {
    flush();
    events_up_to(UINT64_MAX);
}

}  // namespace zentavol::show
