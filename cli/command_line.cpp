#include "command_line.h"

#include <cstdio>
#include <string>

#include "port_listing.h"

namespace zentavol::cli {
namespace {

// The options both programs take, as --help lists them.
constexpr std::string_view kLineOptionsHelp =
    "  -b, --baudrate RATE  bit/s, 50 and up (default 9600)\n"
    "  -d, --databits N     5, 6, 7 or 8 (default 8)\n"
    "  -p, --parity P       none, odd, even, mark or space (default none)\n"
    "  -s, --stopbits N     1 or 2 (default 1)\n"
    "  -f, --flow F         soft (XON/XOFF), hard (RTS/CTS) or none (default soft)";
constexpr std::string_view kCommonOptionsHelp =
    "  -h, --help           this help\n"
    "      --version        the version\n"
    "      --list           the serial ports that this system has";

}  // namespace

void say(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ParsedCommandLine parse_command_line(std::span<const Option> options, int argc,
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
        say(program.about);
        say("Options, anywhere before --:");
        say(kLineOptionsHelp);
        if (!program.options.empty()) {
            say(program.options);
        }
        say(kCommonOptionsHelp);
        say("Examples:");
        say(program.examples);
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
