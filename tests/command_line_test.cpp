// The arguments that are no port names: help and version, for both programs.
#include "program_fixture.h"

namespace zentavol::test {
namespace {

TEST(CommandLine, HelpAndVersionPrintAndSucceed) {
    const std::string receiver_help_start = "usage zentavol COM\n";
    const std::string sender_help_start = "usage zentavol COM datafile\n";
    const struct {
        std::vector<std::string> argv;
        std::string starts_with;
        bool more_lines;
    } cases[] = {
        {{kReceiver, "--help"}, receiver_help_start, true},
        {{kReceiver, "-h"}, receiver_help_start, true},
        {{kSender, "--help"}, sender_help_start, true},
        {{kSender, "-h", "ignored"}, sender_help_start, true},
        {{kReceiver, "--version"}, "zentavol " ZENTAVOL_VERSION "\n", false},
        {{kSender, "--version"}, "zentavol-send " ZENTAVOL_VERSION "\n", false},
    };
    for (const auto& c : cases) {
        const auto result = run_to_end({.argv = c.argv}, 5s);
        EXPECT_EQ(result.status, 0) << c.argv[1];
        EXPECT_TRUE(result.output.starts_with(c.starts_with)) << result.output;
        EXPECT_EQ(result.output.size() > c.starts_with.size(), c.more_lines) << result.output;
    }
}

}  // namespace
}  // namespace zentavol::test
