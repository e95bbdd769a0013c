#include "command_line.h"

#include <cstdio>
#include <string>

#include "port_listing.h"

namespace zentavol::cli {

void say(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ParsedCommandLine parse_command_line(std::span<const OptionSpec> options, int argc,
                                     const char* const argv[]) {
    const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
    return parse_command_line(options, arguments.subspan(argc > 0 ? 1 : 0));
}

std::optional<int> answer_without_running(const ProgramText& program,
                                          const ParsedCommandLine& command_line) {
    if (command_line.error) {
        say(std::string(program.name) + ": " + *command_line.error);
        say(program.usage);
        return kStatusUsage;
    }
    if (command_line.help) {
        say(program.usage);
        say(program.help);
        return kStatusOk;
    }
    if (command_line.version) {
        say(std::string(program.name) + " " + ZENTAVOL_VERSION);
        return kStatusOk;
    }
    if (command_line.list) {
        return print_serial_ports(stdout) ? kStatusOk : kStatusFailure;
    }
    if (command_line.operands.size() < program.operands) {
        say(program.usage);
        return kStatusUsage;
    }
    return std::nullopt;
}

}  // namespace zentavol::cli
