#include "time_argument.h"

#include <cctype>

#include "local_time.h"

namespace zentavol::show {
namespace {

// Reads exactly `count` digits.
std::optional<int> take_digits(std::string_view& text, std::size_t count) {
    if (text.size() < count) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return value;
}

bool take(std::string_view& text, char c) {
    if (!text.empty() && text[0] == c) {
        text.remove_prefix(1);
        return true;
    }
    return false;
}

struct ClockTime {
    int hour = 0, minute = 0, second = 0;
    std::chrono::microseconds fraction{0};
};

// HH:MM[:SS[.fff]]
std::optional<ClockTime> take_clock(std::string_view& text) {
    ClockTime clock;
    const auto hour = take_digits(text, 2);
    if (!hour || !take(text, ':')) {
        return std::nullopt;
    }
    const auto minute = take_digits(text, 2);
    if (!minute || *hour > 23 || *minute > 59) {
        return std::nullopt;
    }
    clock.hour = *hour;
    clock.minute = *minute;
    if (take(text, ':')) {
        const auto second = take_digits(text, 2);
        if (!second || *second > 60) {
            return std::nullopt;
        }
        clock.second = *second;
        if (take(text, '.') || take(text, ',')) {
            long long micros = 0;
            int digits = 0;
            while (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) != 0) {
                if (digits < 6) {
                    micros = micros * 10 + (text[0] - '0');
                    ++digits;
                }
                text.remove_prefix(1);
            }
            if (digits == 0) {
                return std::nullopt;
            }
            for (; digits < 6; ++digits) {
                micros *= 10;
            }
            clock.fraction = std::chrono::microseconds(micros);
        }
    }
    return clock;
}

// Z, ±HH:MM, ±HHMM or ±HH: the zone's distance east of UTC.
std::optional<std::chrono::minutes> take_zone(std::string_view& text) {
    if (take(text, 'Z') || take(text, 'z')) {
        return std::chrono::minutes(0);
    }
    const int sign = take(text, '+') ? 1 : take(text, '-') ? -1 : 0;
    if (sign == 0) {
        return std::nullopt;
    }
    const auto hours = take_digits(text, 2);
    if (!hours) {
        return std::nullopt;
    }
    take(text, ':');
    const auto minutes = text.empty() ? std::optional(0) : take_digits(text, 2);
    if (!minutes || *hours > 23 || *minutes > 59) {
        return std::nullopt;
    }
    return std::chrono::minutes(sign * (*hours * 60 + *minutes));
}

std::optional<Micros> local_moment(const CivilTime& civil, std::chrono::microseconds fraction) {
    const auto seconds = from_local_time(civil);
    if (!seconds) {
        return std::nullopt;
    }
    return Micros(std::chrono::seconds(*seconds)) + fraction;
}

}  // namespace

std::optional<Micros> parse_time_argument(std::string_view text, Bound bound, Micros now) {
    using namespace std::chrono;
    std::string_view rest = text;
    if (rest.size() >= 3 && rest[2] == ':') {  // a time of today
        const auto clock = take_clock(rest);
        if (!clock || !rest.empty()) {
            return std::nullopt;
        }
        CivilTime civil = to_local_time(floor<seconds>(now).time_since_epoch().count());
        civil.hour = clock->hour;
        civil.minute = clock->minute;
        civil.second = clock->second;
        return local_moment(civil, clock->fraction);
    }
    const auto year = take_digits(rest, 4);
    const bool dashes = take(rest, '-');
    const auto month = dashes ? take_digits(rest, 2) : std::nullopt;
    const auto day = month && take(rest, '-') ? take_digits(rest, 2) : std::nullopt;
    if (!year || !day) {
        return std::nullopt;
    }
    const year_month_day date{std::chrono::year(*year),
                              std::chrono::month(static_cast<unsigned>(*month)),
                              std::chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok()) {
        return std::nullopt;
    }
    CivilTime civil{*year, *month, *day, 0, 0, 0};
    if (rest.empty()) {  // a date alone: the whole day
        if (bound == Bound::kUntil) {
            const year_month_day next{sys_days(date) + days(1)};
            civil = {static_cast<int>(next.year()),
                     static_cast<int>(static_cast<unsigned>(next.month())),
                     static_cast<int>(static_cast<unsigned>(next.day())),
                     0,
                     0,
                     0};
        }
        return local_moment(civil, microseconds(0));
    }
    if (!take(rest, 'T') && !take(rest, 't') && !take(rest, ' ')) {
        return std::nullopt;
    }
    const auto clock = take_clock(rest);
    if (!clock) {
        return std::nullopt;
    }
    civil.hour = clock->hour;
    civil.minute = clock->minute;
    civil.second = clock->second;
    if (rest.empty()) {
        return local_moment(civil, clock->fraction);
    }
    const auto zone = take_zone(rest);
    if (!zone || !rest.empty()) {
        return std::nullopt;
    }
    return Micros(sys_days(date) + hours(clock->hour) + minutes(clock->minute) +
                  seconds(clock->second) - *zone) +
           clock->fraction;
}

}  // namespace zentavol::show
