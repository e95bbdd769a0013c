// The sender's options: the line, and the pause after each record.
#pragma once

#include <chrono>
#include <vector>

#include "options.h"

namespace zentavol {

struct SenderOptions {
    cli::LineOptions line;
    std::chrono::milliseconds line_delay{1000};  // after each record has gone out
};

std::vector<cli::Option> sender_option_table(SenderOptions& options);

}  // namespace zentavol
