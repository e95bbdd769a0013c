#include "time_index.h"

#include <cstdio>
#include <utility>

namespace zentavol {

std::string format_index_time(WallClock::time_point time) {
    using namespace std::chrono;
    const auto micros = floor<microseconds>(time);
    const auto day = floor<days>(micros);
    const year_month_day date(day);
    const hh_mm_ss clock(micros - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text;
}

std::string index_line(WallClock::time_point time, std::uint64_t offset, std::string_view event,
                       std::string_view detail) {
    std::string line = format_index_time(time);
    line += '\t';
    line += std::to_string(offset);
    line += '\t';
    line += event;
    if (!detail.empty()) {
        line += '\t';
        line += detail;
    }
    line += '\n';
    return line;
}

std::chrono::nanoseconds quiet_for(std::uint32_t baud, int data_bits, bool parity, int stop_bits) {
    const std::int64_t bits = std::int64_t{1} + data_bits + (parity ? 1 : 0) + stop_bits;
    return std::chrono::nanoseconds(kQuietCharacterTimes * bits * 1'000'000'000LL /
                                    static_cast<std::int64_t>(baud == 0 ? 1 : baud));
}

bool DataEntryPolicy::starts_entry(SteadyClock::time_point now) {
    const bool starts =
        !any_ || now - last_chunk_ >= quiet_ || now - last_entry_ >= kDataEntryInterval;
    any_ = true;
    last_chunk_ = now;
    if (starts) {
        last_entry_ = now;
    }
    return starts;
}

bool IndexFile::open(const char* name) {
    return file_.open(name);
}

bool IndexFile::reopen(const char* name) {
    retry();  // what the old file takes, it gets
    AppendFile renamed;
    if (!renamed.open(name)) {
        return false;
    }
    file_ = std::move(renamed);
    return true;
}

void IndexFile::add(std::string line) {
    pending_bytes_ += line.size();
    pending_.push_back(std::move(line));
    // The oldest whole lines go to make room; one already begun in the file is finished first.
    while (pending_bytes_ > backlog_limit_ && pending_.size() > 1) {
        const auto victim = front_written_ > 0 ? pending_.begin() + 1 : pending_.begin();
        pending_bytes_ -= victim->size();
        pending_.erase(victim);
    }
    retry();
}

void IndexFile::retry() {
    while (!pending_.empty()) {
        const std::string& line = pending_.front();
        const std::span<const std::uint8_t> rest(
            reinterpret_cast<const std::uint8_t*>(line.data()) + front_written_,
            line.size() - front_written_);
        const std::size_t written = file_.append(rest);
        if (written < rest.size()) {
            front_written_ += written;
            return;
        }
        pending_bytes_ -= line.size();
        front_written_ = 0;
        pending_.pop_front();
    }
}

void TimeIndex::opened(std::uint64_t offset, std::string_view port, std::string_view line) {
    std::string detail(port);
    detail += '\t';
    detail += line;
    file_.add(index_line(WallClock::now(), offset, "open", detail));
}

void TimeIndex::reopen(const char* name) {
    file_.reopen(name);
    policy_ = DataEntryPolicy(quiet_);
}

void TimeIndex::closed(std::uint64_t offset) {
    file_.add(index_line(WallClock::now(), offset, "close"));
}

void TimeIndex::lost(std::uint64_t offset) {
    file_.add(index_line(WallClock::now(), offset, "lost"));
}

void TimeIndex::chunk_read(CaptureFile& capture) {
    if (policy_.starts_entry(SteadyClock::now())) {
        marked_.emplace_back(next_tag_, WallClock::now());
        capture.mark(next_tag_++);
    }
}

void TimeIndex::record(std::span<const CaptureEvent> events) {
    const auto now = WallClock::now();
    for (const auto& event : events) {
        switch (event.kind) {
            case CaptureEvent::Kind::kLanded:
                // Marks whose bytes were dropped never land: their times go too.
                while (!marked_.empty() && marked_.front().first < event.tag) {
                    marked_.pop_front();
                }
                if (!marked_.empty() && marked_.front().first == event.tag) {
                    file_.add(index_line(marked_.front().second, event.offset, "data"));
                    marked_.pop_front();
                }
                break;
            case CaptureEvent::Kind::kAppendFailed:
                file_.add(index_line(now, event.offset, "append-failed"));
                break;
            case CaptureEvent::Kind::kAppendResumed:
                file_.add(index_line(now, event.offset, "append-resumed"));
                break;
            case CaptureEvent::Kind::kDropped:
                file_.add(index_line(now, event.offset, "dropped", std::to_string(event.count)));
                break;
        }
    }
}

}  // namespace zentavol
