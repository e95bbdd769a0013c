// Interpretation of the mode-command text that defines the line, shared by every backend.
#include <charconv>

#include "line_settings.h"

namespace zentavol {
namespace {

// The lowest standard rate; below it only the abbreviations mean anything.
constexpr std::uint32_t kLowestRate = 50;

// The mode command takes the leading digits of the usual rates as abbreviations.
std::optional<std::uint32_t> expand_baud(std::uint32_t value) {
    switch (value) {
        case 11:
            return 110;
        case 15:
            return 150;
        case 30:
            return 300;
        case 60:
            return 600;
        case 12:
            return 1200;
        case 24:
            return 2400;
        case 48:
            return 4800;
        case 96:
            return 9600;
        case 19:
            return 19200;
        default:
            return value >= kLowestRate ? std::optional<std::uint32_t>(value) : std::nullopt;
    }
}

std::optional<std::uint32_t> parse_number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parse_switch(std::string_view text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

bool apply_item(std::string_view key, std::string_view value, LineSettings& settings) {
    if (key == "baud") {
        const auto number = parse_number(value);
        const auto baud = number ? expand_baud(*number) : std::nullopt;
        settings.baud = baud.value_or(0);
        return baud.has_value();
    }
    if (key == "parity") {
        if (value.size() != 1 ||
            std::string_view("neoms").find(value[0]) == std::string_view::npos) {
            return false;
        }
        settings.parity = value[0];
        return true;
    }
    if (key == "data" || key == "stop") {
        const auto number = parse_number(value);
        const bool valid = key == "data" ? number && *number >= 5 && *number <= 8
                                         : number && (*number == 1 || *number == 2);
        if (!valid) {
            return false;
        }
        (key == "data" ? settings.data_bits : settings.stop_bits) = static_cast<int>(*number);
        return true;
    }
    const auto on = parse_switch(value);
    if (!on) {
        return false;
    }
    if (key == "xon") {
        settings.xon_xoff = *on;
    } else if (key == "octs") {
        settings.cts_flow = *on;
    } else if (key == "dtr") {
        settings.dtr = *on;
    } else if (key == "rts") {
        settings.rts = *on;
    } else {
        return false;
    }
    return true;
}

const char* switch_text(bool on) {
    return on ? "on" : "off";
}

}  // namespace

std::string format_line_settings(const LineSettings& line) {
    std::string text = "baud=" + std::to_string(line.baud) + " parity=" + line.parity +
                       " data=" + std::to_string(line.data_bits) +
                       " stop=" + std::to_string(line.stop_bits) +
                       " xon=" + switch_text(line.xon_xoff);
    if (line.cts_flow) {
        text += " octs=on";
    }
    text += std::string(" dtr=") + switch_text(line.dtr);
    // Under the handshake RTS belongs to the driver; the mode syntax's rts=hs is not taken
    // everywhere, so the backends set it themselves.
    if (!line.cts_flow) {
        text += std::string(" rts=") + switch_text(line.rts);
    }
    return text;
}

std::optional<LineSettings> parse_line_settings(std::string_view text) {
    LineSettings settings;
    bool has_baud = false;
    while (!text.empty()) {
        const auto start = text.find_first_not_of(' ');
        if (start == std::string_view::npos) {
            break;
        }
        text.remove_prefix(start);
        const auto item = text.substr(0, text.find(' '));
        text.remove_prefix(item.size());
        const auto equals = item.find('=');
        if (equals == std::string_view::npos ||
            !apply_item(item.substr(0, equals), item.substr(equals + 1), settings)) {
            return std::nullopt;
        }
        has_baud = has_baud || item.substr(0, equals) == "baud";
    }
    if (!has_baud) {
        return std::nullopt;
    }
    return settings;
}

}  // namespace zentavol
