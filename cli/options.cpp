#include "options.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace zentavol::cli {
namespace {

constexpr std::uint32_t kLowestBaud = 50;

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

const Option* find_letter(std::span<const Option> options, char letter) {
    const auto found = std::ranges::find(options, letter, &Option::letter);
    return found == options.end() ? nullptr : &*found;
}

const Option* find_name(std::span<const Option> options, std::string_view name) {
    const auto found = std::ranges::find(options, name, &Option::name);
    return found == options.end() ? nullptr : &*found;
}

}  // namespace

ParsedCommandLine parse_command_line(std::span<const Option> options,
                                     std::span<const char* const> arguments) {
    ParsedCommandLine parsed;
    const auto fail = [&](std::string message) {
        if (!parsed.error) {
            parsed.error = std::move(message);
        }
    };
    bool options_end = false;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string_view argument = arguments[at];
        if (options_end || argument.size() < 2 || argument[0] != '-') {
            parsed.operands.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            options_end = true;
            continue;
        }
        // The value of an option: the rest of its word, or the next argument.
        const auto value_for = [&](std::string_view said, std::string_view attached,
                                   bool has_attached) -> std::optional<std::string_view> {
            if (has_attached) {
                return attached;
            }
            if (at + 1 < arguments.size()) {
                return std::string_view(arguments[++at]);
            }
            fail("option " + quoted(said) + " needs a value");
            return std::nullopt;
        };
        const auto apply = [&](const Option& option, std::string_view value) {
            if (auto complaint = option.apply(value)) {
                fail(std::move(*complaint));
            }
        };
        if (argument.starts_with("--")) {
            const auto equals = argument.find('=');
            const std::string_view name = argument.substr(2, equals - 2);
            const bool has_attached = equals != std::string_view::npos;
            const std::string_view attached =
                has_attached ? argument.substr(equals + 1) : std::string_view();
            if (name == "help" || name == "version" || name == "list") {
                (name == "help"      ? parsed.help
                 : name == "version" ? parsed.version
                                     : parsed.list) = true;
                continue;
            }
            const Option* option = find_name(options, name);
            if (option == nullptr) {
                fail("unknown option " + quoted(argument.substr(0, equals)));
                continue;
            }
            if (!option->takes_value) {
                if (has_attached) {
                    fail("option " + quoted(argument.substr(0, equals)) + " takes no value");
                } else {
                    apply(*option, {});
                }
                continue;
            }
            if (const auto value = value_for(argument.substr(0, equals), attached, has_attached)) {
                apply(*option, *value);
            }
            continue;
        }
        // One or more letters: flags may share a word, and the letter that takes a value ends it.
        for (std::size_t i = 1; i < argument.size(); ++i) {
            const char letter = argument[i];
            if (letter == 'h') {
                parsed.help = true;
                continue;
            }
            const Option* option = find_letter(options, letter);
            if (option == nullptr) {
                fail("unknown option " + quoted(std::string("-") + letter));
                break;
            }
            if (!option->takes_value) {
                apply(*option, {});
                continue;
            }
            const std::string said = std::string("-") + letter;
            if (const auto value =
                    value_for(said, argument.substr(i + 1), i + 1 < argument.size())) {
                apply(*option, *value);
            }
            break;
        }
    }
    return parsed;
}

std::optional<std::uint32_t> parse_count(std::string_view text, std::uint32_t lowest,
                                         std::uint32_t highest) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    // Digits alone: no sign, no blanks, no base prefix.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || value < lowest || value > highest) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

bool LineOptions::any_given() const {
    return baud_given || data_bits_given || parity_given || stop_bits_given || flow_given;
}

std::string LineOptions::settings_text() const {
    if (!any_given()) {
        return kLineSettings;
    }
    LineSettings line;
    line.baud = baud;
    line.parity = parity;
    line.data_bits = data_bits;
    line.stop_bits = stop_bits;
    line.xon_xoff = flow == Flow::kSoft;
    line.cts_flow = flow == Flow::kHard;
    line.dtr = true;
    line.rts = true;
    return format_line_settings(line);
}

std::string LineOptions::describe() const {
    const char* parity_word = parity == 'o'   ? "odd"
                              : parity == 'e' ? "even"
                              : parity == 'm' ? "mark"
                              : parity == 's' ? "space"
                                              : "none";
    const char* flow_word = flow == Flow::kSoft ? "soft" : flow == Flow::kHard ? "hard" : "none";
    return std::to_string(baud) + " " + std::to_string(data_bits) + " " + parity_word + " " +
           std::to_string(stop_bits) + " " + flow_word;
}

bool LineOptions::held_by(const LineReadback& readback) const {
    if (!readback.ok) {
        return !any_given();
    }
    const LineSettings& now = readback.line;
    const bool framing = readback.framing_known;
    return (!baud_given || now.baud == baud) &&
           (!data_bits_given || !framing || now.data_bits == data_bits) &&
           (!parity_given || !framing || now.parity == parity) &&
           (!stop_bits_given || now.stop_bits == stop_bits) &&
           (!flow_given ||
            (now.xon_xoff == (flow == Flow::kSoft) && now.cts_flow == (flow == Flow::kHard)));
}

void add_line_options(std::vector<Option>& options, LineOptions& line) {
    options.push_back(
        {'b', "baudrate", true, [&line](std::string_view value) {
             const auto baud =
                 parse_count(value, kLowestBaud, std::numeric_limits<std::uint32_t>::max());
             if (!baud) {
                 return std::optional<std::string>("invalid baud rate " + quoted(value));
             }
             line.baud = *baud;
             line.baud_given = true;
             return std::optional<std::string>();
         }});
    options.push_back({'d', "databits", true, [&line](std::string_view value) {
                           const auto bits = parse_count(value, 5, 8);
                           if (!bits) {
                               return std::optional<std::string>("invalid data bits " +
                                                                 quoted(value));
                           }
                           line.data_bits = static_cast<int>(*bits);
                           line.data_bits_given = true;
                           return std::optional<std::string>();
                       }});
    options.push_back(
        {'p', "parity", true, [&line](std::string_view value) {
             constexpr std::pair<std::string_view, char> kParities[] = {
                 {"none", 'n'}, {"odd", 'o'}, {"even", 'e'}, {"mark", 'm'}, {"space", 's'}};
             for (const auto& [name, letter] : kParities) {
                 if (value == name) {
                     line.parity = letter;
                     line.parity_given = true;
                     return std::optional<std::string>();
                 }
             }
             return std::optional<std::string>("invalid parity " + quoted(value));
         }});
    options.push_back({'s', "stopbits", true, [&line](std::string_view value) {
                           const auto bits = parse_count(value, 1, 2);
                           if (!bits) {
                               return std::optional<std::string>("invalid stop bits " +
                                                                 quoted(value));
                           }
                           line.stop_bits = static_cast<int>(*bits);
                           line.stop_bits_given = true;
                           return std::optional<std::string>();
                       }});
    options.push_back({'f', "flow", true, [&line](std::string_view value) {
                           constexpr std::pair<std::string_view, Flow> kFlows[] = {
                               {"soft", Flow::kSoft}, {"hard", Flow::kHard}, {"none", Flow::kNone}};
                           for (const auto& [name, flow] : kFlows) {
                               if (value == name) {
                                   line.flow = flow;
                                   line.flow_given = true;
                                   return std::optional<std::string>();
                               }
                           }
                           return std::optional<std::string>("invalid flow control " +
                                                             quoted(value));
                       }});
}

}  // namespace zentavol::cli
