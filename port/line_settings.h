// The line settings: the one text that defines the line on every platform, and what it says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zentavol {

// The line, in the platform's mode-command syntax ("baud=96" abbreviates 9600 bit/s). The Windows
// backend hands this text to BuildCommDCBA, the POSIX backend interprets it with
// parse_line_settings.
inline constexpr std::size_t kLineSettingsBufferSize = 100;
inline constexpr char kLineSettings[kLineSettingsBufferSize] =
    "baud=96 parity=n data=8 stop=1 xon=on dtr=on rts=on";

// The standard flow-control characters.
inline constexpr unsigned char kXon = 0x11;
inline constexpr unsigned char kXoff = 0x13;

// What the line-settings text says, item by item.
struct LineSettings {
    std::uint32_t baud = 0;  // bit/s, abbreviations expanded
    char parity = 'n';       // n, e, o, m or s
    int data_bits = 8;
    int stop_bits = 1;
    bool xon_xoff = false;
    bool cts_flow = false;  // octs=on: output waits for CTS; the backend adds the RTS half
    bool dtr = false;
    bool rts = false;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Interprets a mode-command text such as kLineSettings; nothing when an item is unknown or
// malformed. Rates from 50 up are taken as they are, but for the mode command's two-digit
// abbreviations (11, 15, 30, 60, 12, 24, 48, 96, 19).
std::optional<LineSettings> parse_line_settings(std::string_view text);

// The text that says the given line, with the rate written in full; DTR and RTS on, but where
// the hardware handshake drives RTS.
std::string format_line_settings(const LineSettings& line);

}  // namespace zentavol
