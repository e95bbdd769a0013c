// The command-line front that both programs share: their exit statuses, their one-line messages,
// and the arguments that are answered without opening anything.
#pragma once

#include <optional>
#include <string_view>

namespace zentavol::cli {

inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailure = 1;
inline constexpr int kStatusUsage = 2;

// What a program says about itself.
struct ProgramText {
    std::string_view name;   // as --version shows it
    std::string_view usage;  // the usage line, said for a short command line
    std::string_view help;   // said for --help, after the usage line
    int operands;            // the arguments it needs
};

// Says one line on standard output, at once: every message of these programs is one.
void say(std::string_view line);

// Answers --help (-h), --version and --list as the first argument, and a command line with too
// few arguments: gives the status to end with. Nothing when the program is to run.
std::optional<int> answer_without_running(const ProgramText& program, int argc,
                                          const char* const argv[]);

}  // namespace zentavol::cli
