// Local civil time, for showing and reading the times people type: the C library's time zone
// (TZ, /etc/localtime, or Windows' own setting).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

namespace zentavol {

struct CivilTime {
    int year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The local civil time of a moment, given in whole seconds since 1970 UTC.
CivilTime to_local_time(std::int64_t seconds);
// The moment of a local civil time, in whole seconds since 1970 UTC.
std::optional<std::int64_t> from_local_time(const CivilTime& civil);
// Bytes written to the stream go out as they are (no CR added before LF on Windows).
void use_binary_mode(std::FILE* stream);

}  // namespace zentavol
