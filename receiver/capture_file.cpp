#include "capture_file.h"

#include <algorithm>

namespace zentavol {

CaptureFile::CaptureFile(std::size_t backlog_limit) : backlog_limit_(backlog_limit) {}

bool CaptureFile::open(const char* name) {
    return file_.open(name);
}

CaptureFile::Outcome CaptureFile::store(std::span<const std::uint8_t> chunk) {
    if (backlog_size_ == 0) {
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
    if (backlog_size_ == 0) {
        failing_ = false;
        return Outcome::kStored;
    }
    const bool first = !failing_;
    failing_ = true;
    return first ? Outcome::kFirstFailure : Outcome::kStillFailing;
}

void CaptureFile::keep(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    if (backlog_.empty()) {
        backlog_.resize(backlog_limit_);
        backlog_head_ = 0;
    }
    if (bytes.size() >= backlog_limit_) {
        bytes = bytes.last(backlog_limit_);
    }
    const std::size_t overflow = backlog_size_ + bytes.size() > backlog_limit_
                                     ? backlog_size_ + bytes.size() - backlog_limit_
                                     : 0;
    backlog_head_ = (backlog_head_ + overflow) % backlog_limit_;  // the oldest go
    backlog_size_ -= overflow;
    std::size_t tail = (backlog_head_ + backlog_size_) % backlog_limit_;
    const std::size_t first_part = std::min(bytes.size(), backlog_limit_ - tail);
    std::copy_n(bytes.begin(), first_part, backlog_.begin() + static_cast<std::ptrdiff_t>(tail));
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(first_part), bytes.end(),
              backlog_.begin());
    backlog_size_ += bytes.size();
}

void CaptureFile::flush_backlog() {
    while (backlog_size_ > 0) {
        const std::size_t contiguous = std::min(backlog_size_, backlog_limit_ - backlog_head_);
        const std::size_t written =
            file_.append(std::span(backlog_).subspan(backlog_head_, contiguous));
        backlog_head_ = (backlog_head_ + written) % backlog_limit_;
        backlog_size_ -= written;
        if (written < contiguous) {
            return;
        }
    }
    std::vector<std::uint8_t>().swap(backlog_);  // all in: the memory goes back
}

}  // namespace zentavol
