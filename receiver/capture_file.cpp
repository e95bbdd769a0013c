#include "capture_file.h"

#include <utility>

namespace zentavol {

CaptureFile::CaptureFile(std::size_t backlog_limit) : backlog_limit_(backlog_limit) {}

bool CaptureFile::open(const char* name) {
    if (!file_.open(name)) {
        return false;
    }
    size_ = file_.size();
    return true;
}

bool CaptureFile::reopen(const char* name) {
    AppendFile renamed;
    if (!renamed.open(name)) {
        return false;
    }
    file_ = std::move(renamed);
    size_ = file_.size();
    return true;
}

void CaptureFile::mark(std::uint64_t tag) {
    marks_.push_back({received_, tag});
}

std::vector<CaptureEvent> CaptureFile::take_events() {
    std::vector<CaptureEvent> taken;
    taken.swap(events_);
    return taken;
}

std::size_t CaptureFile::append(std::span<const std::uint8_t> bytes, std::uint64_t position) {
    const std::uint64_t size_before = size_;
    const std::size_t events_before = events_.size();
    const std::size_t written = file_.append(bytes);
    size_ += written;
    while (!marks_.empty() && marks_.front().position < position + written) {
        events_.push_back({.kind = CaptureEvent::Kind::kLanded,
                           .offset = size_before + (marks_.front().position - position),
                           .tag = marks_.front().tag});
        marks_.pop_front();
    }
    if (written < bytes.size() && !failing_) {
        // Said before the bytes of this append that did go in.
        events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(events_before),
                       {.kind = CaptureEvent::Kind::kAppendFailed, .offset = size_before});
    }
    return written;
}

CaptureFile::Outcome CaptureFile::store(std::span<const std::uint8_t> chunk) {
    const std::size_t events_before = events_.size();
    const std::uint64_t position = received_;
    received_ += chunk.size();
    if (backlog_.empty()) {
        const std::size_t written = append(chunk, position);
        keep(chunk.subspan(written));
    } else {
        keep(chunk);
        flush_backlog();
    }
    return settle(events_before);
}

CaptureFile::Outcome CaptureFile::retry() {
    const std::size_t events_before = events_.size();
    flush_backlog();
    return settle(events_before);
}

CaptureFile::Outcome CaptureFile::settle(std::size_t events_before) {
    if (backlog_.empty()) {
        if (failing_) {
            // Before what the succeeding appends stored.
            events_.insert(
                events_.begin() + static_cast<std::ptrdiff_t>(events_before),
                {.kind = CaptureEvent::Kind::kAppendResumed, .offset = size_before_flush_});
        }
        failing_ = false;
        return Outcome::kStored;
    }
    const bool first = !failing_;
    failing_ = true;
    return first ? Outcome::kFirstFailure : Outcome::kStillFailing;
}

void CaptureFile::keep(std::span<const std::uint8_t> bytes) {
    std::uint64_t dropped = 0;
    if (bytes.size() > backlog_limit_) {
        dropped += bytes.size() - backlog_limit_;
        bytes = bytes.last(backlog_limit_);
    }
    // The oldest go, to make room.
    const std::size_t held = backlog_.size() + bytes.size();
    const std::size_t overflow = held > backlog_limit_ ? held - backlog_limit_ : 0;
    backlog_.pop(overflow);
    dropped += overflow;
    backlog_.append(bytes);
    if (dropped > 0) {
        // Every byte before the oldest one kept is stored or gone: so are the marks there.
        while (!marks_.empty() && marks_.front().position < backlog_position()) {
            marks_.pop_front();
        }
        events_.push_back(
            {.kind = CaptureEvent::Kind::kDropped, .offset = size_, .count = dropped});
    }
}

void CaptureFile::flush_backlog() {
    size_before_flush_ = size_;
    while (!backlog_.empty()) {
        const auto oldest = backlog_.front();
        const std::size_t written = append(oldest, backlog_position());
        backlog_.pop(written);
        if (written < oldest.size()) {
            return;
        }
    }
}

}  // namespace zentavol
