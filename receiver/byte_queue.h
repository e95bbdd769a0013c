// A queue of bytes held in fixed blocks that come and go with what it holds, so that a backlog
// of many megabytes costs memory only while it is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>

namespace zentavol {

// Large enough that one block carries a whole gathered chunk; at the allocator's threshold for
// mapping (see prepare_console), so that a freed block goes back to the system.
inline constexpr std::size_t kByteQueueBlockSize = std::size_t{64} * 1024;

class ByteQueue {
  public:
    void append(std::span<const std::uint8_t> bytes);
    void append(std::string_view text);
    // The oldest bytes that lie one after the other; empty when the queue is.
    std::span<const std::uint8_t> front() const;
    // Drops the oldest `count` bytes (at most size()).
    void pop(std::size_t count);
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void swap(ByteQueue& other) noexcept;

  private:
    using Block = std::unique_ptr<std::uint8_t[]>;
    std::deque<Block> blocks_;
    std::size_t head_ = 0;  // where the oldest byte lies in the first block
    std::size_t size_ = 0;
    // One emptied block kept back, so that a queue that fills and drains by small amounts does
    // not ask the system for a block each time.
    Block spare_;
};

}  // namespace zentavol
