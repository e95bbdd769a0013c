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

// POSIX streams never translate line ends.
void use_binary_mode(std::FILE* /*stream*/) {}

}  // namespace zentavol
