// The times people give --since and --until: ISO 8601 with or without a zone and with optional
// fractional seconds ("2026-12-11T14:00", "2026-12-11 14:00:05.25Z", "...+01:00"), a date
// alone, or "HH:MM[:SS[.fff]]" for today; local time where no zone is given.
#pragma once

#include <optional>
#include <string_view>

#include "timeline.h"

namespace zentavol::show {

enum class Bound { kSince, kUntil };

// A date alone means the start of that day for --since and its end for --until.
std::optional<Micros> parse_time_argument(std::string_view text, Bound bound, Micros now);

}  // namespace zentavol::show
