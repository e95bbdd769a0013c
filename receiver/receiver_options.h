// The receiver's options: the line, where the capture goes, and how it starts and shows.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace zentavol {

inline constexpr const char* kDefaultCaptureFile = "zentavol.dat";

struct ReceiverOptions {
    cli::LineOptions line;
    std::string output = kDefaultCaptureFile;  // named in the messages as typed
    bool quiet = false;                        // no echo; messages are still said
    bool wait = false;                         // wait for a port that cannot be held at start
    bool timestamps = false;                   // the time index beside the capture
};

std::vector<cli::Option> receiver_option_table(ReceiverOptions& options);

}  // namespace zentavol
