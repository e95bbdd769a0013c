// Byte helpers shared by the tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zentavol::test {

inline std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Bytes that pass a raw XON/XOFF line unchanged: everything but the two flow-control characters.
inline std::string line_safe_bytes(std::size_t count) {
    std::string bytes;
    std::uint32_t state = 12345;
    while (bytes.size() < count) {
        state = state * 1103515245u + 12345u;
        const auto byte = static_cast<char>(state >> 24);
        if (byte != 0x11 && byte != 0x13) {
            bytes.push_back(byte);
        }
    }
    return bytes;
}

}  // namespace zentavol::test
