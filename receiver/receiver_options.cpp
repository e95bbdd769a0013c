#include "receiver_options.h"

namespace zentavol {

std::vector<cli::Option> receiver_option_table(ReceiverOptions& options) {
    std::vector<cli::Option> option_table;
    cli::add_line_options(option_table, options.line);
    option_table.push_back({'o', "output", true, [&options](std::string_view value) {
                                if (value.empty()) {
                                    return std::optional<std::string>("invalid output file \"\"");
                                }
                                options.output = value;
                                return std::optional<std::string>();
                            }});
    option_table.push_back({'q', "quiet", false, [&options](std::string_view) {
                                options.quiet = true;
                                return std::optional<std::string>();
                            }});
    option_table.push_back({'w', "wait", false, [&options](std::string_view) {
                                options.wait = true;
                                return std::optional<std::string>();
                            }});
    option_table.push_back({'t', "timestamps", false, [&options](std::string_view) {
                                options.timestamps = true;
                                return std::optional<std::string>();
                            }});
    return option_table;
}

}  // namespace zentavol
