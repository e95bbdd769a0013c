#include "receiver_options.h"

namespace zentavol {

std::vector<cli::OptionSpec> receiver_option_specs(ReceiverOptions& options) {
    std::vector<cli::OptionSpec> specs;
    cli::add_line_options(specs, options.line);
    specs.push_back({'o', "output", true, [&options](std::string_view value) {
                         if (value.empty()) {
                             return std::optional<std::string>("invalid output file \"\"");
                         }
                         options.output = value;
                         return std::optional<std::string>();
                     }});
    specs.push_back({'q', "quiet", false, [&options](std::string_view) {
                         options.quiet = true;
                         return std::optional<std::string>();
                     }});
    specs.push_back({'w', "wait", false, [&options](std::string_view) {
                         options.wait = true;
                         return std::optional<std::string>();
                     }});
    specs.push_back({'t', "timestamps", false, [&options](std::string_view) {
                         options.timestamps = true;
                         return std::optional<std::string>();
                     }});
    return specs;
}

}  // namespace zentavol
