// The command-line front that both programs share: their exit statuses, their one-line messages,
// and the answers to a command line that asks for no run (help, version, list, a mistake).
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "options.h"

namespace zentavol::cli {

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailure = 1;
inline constexpr int kStatusUsage = 2;

// What a program says about itself.
struct ProgramText {
    std::string_view name;      // as --version and its complaints show it
    std::string_view usage;     // the usage line, said for a short or a bad command line
    std::string_view about;     // what it does, said for --help after the usage line
    std::string_view options;   // its own options' lines, after those of the line
    std::string_view examples;  // the command lines users look for first
    std::size_t operands;       // the arguments it needs besides its options
};

// Says one line on standard output, at once: every message of these programs is one.
void say(std::string_view line);

// Takes the command line apart with the program's options.
ParsedCommandLine parse_command_line(std::span<const Option> options, int argc,
                                     const char* const argv[]);

// Answers --help (-h), --version, --list, a bad command line (its complaint, then the usage
// line) and one with too few arguments: gives the status to end with. Nothing when the program
// is to run.
std::optional<int> answer_without_running(const ProgramText& program,
                                          const ParsedCommandLine& command_line);

}  // namespace zentavol::cli
