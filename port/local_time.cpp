// Local time: the conversion the C library does the same way everywhere.
#include <ctime>

#include "local_time.h"

namespace zentavol {

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

}  // namespace zentavol
