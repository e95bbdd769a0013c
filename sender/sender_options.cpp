#include "sender_options.h"

#include <limits>

namespace zentavol {

std::vector<cli::Option> sender_option_table(SenderOptions& options) {
    std::vector<cli::Option> option_table;
    cli::add_line_options(option_table, options.line);
    option_table.push_back({0, "line-delay", true, [&options](std::string_view value) {
                                const auto delay = cli::parse_count(
                                    value, 0, std::numeric_limits<std::uint32_t>::max());
                                if (!delay) {
                                    return std::optional<std::string>("invalid line delay \"" +
                                                                      std::string(value) + "\"");
                                }
                                options.line_delay = std::chrono::milliseconds(*delay);
                                return std::optional<std::string>();
                            }});
    return option_table;
}

}  // namespace zentavol
