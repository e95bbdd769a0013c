// Both programs joined by a virtual null modem: socat links two pseudo-terminals.
#include <unistd.h>

#include <filesystem>

#include "null_modem.h"
#include "program_fixture.h"

namespace zentavol::test {
namespace {

using namespace std::string_literals;

TEST(NullModem, ADataFileTravelsIntoTheCaptureByteForByte) {
    ASSERT_EQ(::access(kSocat, X_OK), 0) << "socat is needed for the null modem";
    NullModem modem;
    TempDir cwd;
    RunningReceiver receiver(modem.a(), cwd.path());

    const std::string long_line(130, 'z');
    const std::string data = "first\r\n" + long_line + "\r\nin\0ner\r\nlast"s;
    write_file(cwd / "data.txt", data);
    const auto sent = run_to_end({.argv = {kSender, modem.b(), (cwd / "data.txt").string()}}, 20s);
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(sent.output, "Press CtrlC to break;\n");

    const std::string expected = "first\r\n\0"s + std::string(98, 'z') + "\0"s +
                                 std::string(32, 'z') + "\r\n\0"s + "in\0ner\r\n\0"s + "last\0"s;
    EXPECT_TRUE(eventually([&] { return receiver.capture().size() >= expected.size(); }, 5s));
    EXPECT_EQ(receiver.capture(), expected);
    // The echo follows the file.
    EXPECT_TRUE(eventually([&] { return receiver.echo() == expected; }, 5s)) << receiver.echo();
}

}  // namespace
}  // namespace zentavol::test
