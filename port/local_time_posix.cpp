#include <ctime>

#include "local_time.h"

namespace zentavol {

CivilTime to_local_time(std::int64_t seconds) {
    const auto moment = static_cast<std::time_t>(seconds);
    std::tm parts{};
    ::localtime_r(&moment, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
            parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

std::optional<std::int64_t> from_local_time(const CivilTime& civil) {
    std::tm parts{};
    parts.tm_year = civil.year - 1900;
    parts.tm_mon = civil.month - 1;
    parts.tm_mday = civil.day;
    parts.tm_hour = civil.hour;
    parts.tm_min = civil.minute;
    parts.tm_sec = civil.second;
    parts.tm_isdst = -1;  // whatever the zone has on that day
    const std::time_t moment = std::mktime(&parts);
    if (moment == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(moment);
}

// POSIX streams never translate line ends.
void use_binary_mode(std::FILE* /*stream*/) {}

}  // namespace zentavol
