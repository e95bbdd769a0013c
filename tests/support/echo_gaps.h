// Reading an echo that may have left bytes out: each gap is shown as "echo skipped N bytes" on a
// line of its own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zentavol::test {

// Follows the echo through the stream: every shown piece must be the next part of the stream,
// and every "echo skipped N bytes" line must stand for exactly the N bytes that follow. Gives the
// bytes left out, once the echo accounts for the whole stream; nothing before that, or when the
// echo shows anything else.
inline std::optional<std::size_t> bytes_left_out(std::string_view echo, std::string_view stream) {
    const std::string_view mark = "\necho skipped ";
    const std::string_view mark_end = " bytes\n";
    std::size_t at = 0;
    std::size_t skipped = 0;
    for (;;) {
        const std::size_t gap = echo.find(mark);
        const std::string_view shown = echo.substr(0, gap);
        if (stream.substr(at, shown.size()) != shown) {
            return std::nullopt;
        }
        at += shown.size();
        if (gap == std::string_view::npos) {
            break;
        }
        echo.remove_prefix(gap + mark.size());
        const std::size_t end = echo.find(mark_end);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t count = std::stoul(std::string(echo.substr(0, end)));
        at += count;
        skipped += count;
        echo.remove_prefix(end + mark_end.size());
    }
    return at == stream.size() ? std::optional(skipped) : std::nullopt;
}

}  // namespace zentavol::test
