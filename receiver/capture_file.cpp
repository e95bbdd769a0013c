#include "capture_file.h"

namespace zentavol {

CaptureFile::CaptureFile(std::size_t backlog_limit) : backlog_limit_(backlog_limit) {}

bool CaptureFile::open(const char* name) {
    return file_.open(name);
}

CaptureFile::Outcome CaptureFile::store(std::span<const std::uint8_t> chunk) {
    if (backlog_.empty()) {
        const std::size_t written = file_.append(chunk);
        keep(chunk.subspan(written));
    } else {
        keep(chunk);
        flush_backlog();
    }
    return settle();
}

CaptureFile::Outcome CaptureFile::retry() {
    flush_backlog();
    return settle();
}

CaptureFile::Outcome CaptureFile::settle() {
    if (backlog_.empty()) {
        failing_ = false;
        return Outcome::kStored;
    }
    const bool first = !failing_;
    failing_ = true;
    return first ? Outcome::kFirstFailure : Outcome::kStillFailing;
}

void CaptureFile::keep(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= backlog_limit_) {
        bytes = bytes.last(backlog_limit_);
    }
    // The oldest go, to make room.
    const std::size_t held = backlog_.size() + bytes.size();
    backlog_.pop(held > backlog_limit_ ? held - backlog_limit_ : 0);
    backlog_.append(bytes);
}

void CaptureFile::flush_backlog() {
    while (!backlog_.empty()) {
        const auto oldest = backlog_.front();
        const std::size_t written = file_.append(oldest);
        backlog_.pop(written);
        if (written < oldest.size()) {
            return;
        }
    }
}

}  // namespace zentavol
