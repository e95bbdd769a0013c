// The options of both programs: one small parser for both platforms (getopt_long is not on
// Windows), and what each program's options mean.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line_settings.h"
#include "serial_port.h"

namespace zentavol::cli {

// One option: a letter, a long name, whether it takes a value, and what it does with it; gives
// the complaint about a bad value, or nothing.
struct Option {
    char letter = 0;  // 0: the long name only
    std::string_view name;
    bool takes_value = false;
    std::function<std::optional<std::string>(std::string_view value)> apply;
};

// A command line taken apart. Options may stand anywhere before "--"; "-b 115200",
// "-b115200", "--baudrate 115200" and "--baudrate=115200" are the same, "-qw" is "-q -w", and
// an option given twice holds its last value.
struct ParsedCommandLine {
    std::vector<std::string> operands;
    bool help = false;
    bool version = false;
    bool list = false;
    std::optional<std::string> error;  // the first thing wrong, said as one line
};
ParsedCommandLine parse_command_line(std::span<const Option> options,
                                     std::span<const char* const> arguments);

enum class Flow { kSoft, kHard, kNone };

// The line the options ask for. Without any of them the line is kLineSettings, exactly.
struct LineOptions {
    std::uint32_t baud = 9600;
    int data_bits = 8;
    char parity = 'n';  // n, o, e, m, s
    int stop_bits = 1;
    Flow flow = Flow::kSoft;
    // Which were given: only those are read back and must hold.
    bool baud_given = false, data_bits_given = false, parity_given = false, stop_bits_given = false,
         flow_given = false;

    bool any_given() const;
    // The text that configure interprets: kLineSettings when no option was given; otherwise the
    // whole line with the rate written in full.
    std::string settings_text() const;
    // The line in words: "BAUD DATABITS PARITY STOPBITS FLOW", as "9600 8 none 1 soft".
    std::string describe() const;
    // True when the port has every setting that an option asked for (data bits and parity only
    // where the port keeps framing).
    bool held_by(const LineReadback& readback) const;
};

// The options both programs take for their line.
void add_line_options(std::vector<Option>& options, LineOptions& line);

// The value parsers, each giving nothing for a value it does not take.
std::optional<std::uint32_t> parse_count(std::string_view text, std::uint32_t lowest,
                                         std::uint32_t highest);

}  // namespace zentavol::cli
