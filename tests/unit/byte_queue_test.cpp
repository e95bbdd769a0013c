// The block queue under both backlogs: order across block edges, and partial pops.
#include <gtest/gtest.h>

#include <string>

#include "byte_queue.h"
#include "bytes.h"

namespace zentavol {
namespace {

std::string drain(ByteQueue& queue, std::size_t step) {
    std::string out;
    while (!queue.empty()) {
        const auto front = queue.front();
        const std::size_t taken = std::min(step, front.size());
        out.append(reinterpret_cast<const char*>(front.data()), taken);
        queue.pop(taken);
    }
    return out;
}

TEST(ByteQueue, KeepsOrderAcrossBlockEdgesWhateverTheStepsIn) {
    const std::string stream = test::line_safe_bytes(3 * kByteQueueBlockSize + 123);
    for (const std::size_t step : {std::size_t{1000}, kByteQueueBlockSize - 1, kByteQueueBlockSize,
                                   kByteQueueBlockSize + 7}) {
        ByteQueue queue;
        for (std::size_t at = 0; at < stream.size(); at += step) {
            queue.append(test::bytes_of(std::string_view(stream).substr(at, step)));
        }
        EXPECT_EQ(queue.size(), stream.size());
        EXPECT_TRUE(drain(queue, 777) == stream) << "step " << step;
        EXPECT_TRUE(queue.empty());
    }
}

TEST(ByteQueue, FillsAgainAfterDrainingAndSwapsWhole) {
    ByteQueue queue;
    queue.append("first");
    queue.pop(2);
    queue.append("+more");
    ByteQueue other;
    other.swap(queue);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(drain(other, 3), "rst+more");
    other.append("again");
    EXPECT_EQ(drain(other, 100), "again");
}

}  // namespace
}  // namespace zentavol
