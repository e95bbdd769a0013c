#include "sender_options.h"

#include <limits>

namespace zentavol {

std::vector<cli::OptionSpec> sender_option_specs(SenderOptions& options) {
    std::vector<cli::OptionSpec> specs;
    cli::add_line_options(specs, options.line);
    specs.push_back({0, "line-delay", true, [&options](std::string_view value) {
                         const auto delay =
                             cli::parse_count(value, 0, std::numeric_limits<std::uint32_t>::max());
                         if (!delay) {
                             return std::optional<std::string>("invalid line delay \"" +
                                                               std::string(value) + "\"");
                         }
                         options.line_delay = std::chrono::milliseconds(*delay);
                         return std::optional<std::string>();
                     }});
    return specs;
}

}  // namespace zentavol
