#include "byte_queue.h"

#include <algorithm>
#include <utility>

namespace zentavol {

void ByteQueue::append(std::string_view text) {
    append({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

void ByteQueue::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t end = head_ + size_;  // counted from the first block's start
        const std::size_t used_in_last =
            end - (blocks_.empty() ? 0 : (blocks_.size() - 1)) * kByteQueueBlockSize;
        if (blocks_.empty() || used_in_last == kByteQueueBlockSize) {
            blocks_.push_back(
                spare_ ? std::move(spare_)
                       : std::make_unique_for_overwrite<std::uint8_t[]>(kByteQueueBlockSize));
            continue;
        }
        const std::size_t taken = std::min(bytes.size(), kByteQueueBlockSize - used_in_last);
        std::copy_n(bytes.begin(), taken, blocks_.back().get() + used_in_last);
        size_ += taken;
        bytes = bytes.subspan(taken);
    }
}

std::span<const std::uint8_t> ByteQueue::front() const {
    if (size_ == 0) {
        return {};
    }
    return {blocks_.front().get() + head_, std::min(size_, kByteQueueBlockSize - head_)};
}

void ByteQueue::pop(std::size_t count) {
    count = std::min(count, size_);
    size_ -= count;
    head_ += count;
    // Every block that is left behind whole goes; with nothing left, so does the last one.
    while (!blocks_.empty() && (head_ >= kByteQueueBlockSize || size_ == 0)) {
        spare_ = std::move(blocks_.front());
        blocks_.pop_front();
        head_ = size_ == 0 ? 0 : head_ - kByteQueueBlockSize;
    }
}

void ByteQueue::swap(ByteQueue& other) noexcept {
    std::swap(blocks_, other.blocks_);
    std::swap(head_, other.head_);
    std::swap(size_, other.size_);
    std::swap(spare_, other.spare_);
}

}  // namespace zentavol
