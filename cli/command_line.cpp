#include "command_line.h"

#include <cstdio>

#include "port_listing.h"

namespace zentavol::cli {

void say(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::optional<int> answer_without_running(const ProgramText& program, int argc,
                                          const char* const argv[]) {
    const std::string_view first = argc >= 2 ? argv[1] : "";
    if (first == "-h" || first == "--help") {
        say(program.usage);
        say(program.help);
        return kStatusOk;
    }
    if (first == "--version") {
        std::printf("%.*s %s\n", static_cast<int>(program.name.size()), program.name.data(),
                    ZENTAVOL_VERSION);
        std::fflush(stdout);
        return kStatusOk;
    }
    if (first == "--list") {
        return print_serial_ports(stdout) ? kStatusOk : kStatusFailure;
    }
    if (argc < 1 + program.operands) {
        say(program.usage);
        return kStatusUsage;
    }
    return std::nullopt;
}

}  // namespace zentavol::cli
