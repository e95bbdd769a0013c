// The device-control block, in a Windows program of its own run under Wine by the Windows tests.
// Without arguments: the block that configure hands to SetCommState, checked field by field
// without a port; prints each field that is wrong and ends with status 1, or prints "control
// block ok". With a port and line options: opens and configures the port as the programs do and
// prints the block the port ends with (GetCommState) and whether the options held.
#include <cstdio>
#include <vector>

#include "command_line.h"
#include "control_block_windows.h"
#include "line_settings.h"
#include "port_timeouts.h"
#include "serial_port.h"

namespace {

int failures = 0;

void expect(const char* field, unsigned long got, unsigned long wanted) {
    if (got != wanted) {
        std::printf("%s is %lu, wanted %lu\n", field, got, wanted);
        ++failures;
    }
}

}  // namespace

int show_configured_block(int argc, char* argv[]) {
    zentavol::cli::LineOptions line;
    std::vector<zentavol::cli::Option> option_table;
    zentavol::cli::add_line_options(option_table, line);
    const auto command_line = zentavol::cli::parse_command_line(option_table, argc, argv);
    if (command_line.error || command_line.operands.empty()) {
        std::puts("usage control_block_test [PORT LINE-OPTIONS...]");
        return 2;
    }
    zentavol::SerialPort port;
    if (!port.open(command_line.operands[0].c_str())) {
        std::puts("error open COM");
        return 1;
    }
    const auto readback = port.configure(line.settings_text().c_str());
    // The handle is not ours to read the block from; a second view of the same port would be
    // refused, so the block is what the port object read back.
    const auto& now = readback.line;
    std::printf("baud=%lu data=%d parity=%c stop=%d xon=%d cts=%d dtr=%d rts=%d %s\n",
                static_cast<unsigned long>(now.baud), now.data_bits, now.parity, now.stop_bits,
                now.xon_xoff ? 1 : 0, now.cts_flow ? 1 : 0, now.dtr ? 1 : 0, now.rts ? 1 : 0,
                line.held_by(readback) ? "held" : "not held");
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc > 1) {
        return show_configured_block(argc, argv);
    }
    DCB driver{};
    driver.DCBlength = sizeof driver;
    driver.XonLim = 111;
    driver.XoffLim = 222;

    const DCB block = zentavol::line_control_block(zentavol::kLineSettings, driver, true);
    // What kLineSettings names.
    expect("DCBlength", block.DCBlength, sizeof(DCB));
    expect("BaudRate", block.BaudRate, 9600);
    expect("ByteSize", block.ByteSize, 8);
    expect("Parity", block.Parity, NOPARITY);
    expect("StopBits", block.StopBits, ONESTOPBIT);
    expect("fOutX", block.fOutX, TRUE);
    expect("fInX", block.fInX, TRUE);
    expect("fDtrControl", block.fDtrControl, DTR_CONTROL_ENABLE);
    expect("fRtsControl", block.fRtsControl, RTS_CONTROL_ENABLE);
    expect("fOutxCtsFlow", block.fOutxCtsFlow, FALSE);
    expect("fOutxDsrFlow", block.fOutxDsrFlow, FALSE);
    // What the text leaves out and the line needs.
    expect("fBinary", block.fBinary, TRUE);
    expect("XonChar", static_cast<unsigned char>(block.XonChar), 0x11);
    expect("XoffChar", static_cast<unsigned char>(block.XoffChar), 0x13);
    expect("fTXContinueOnXoff", block.fTXContinueOnXoff, TRUE);
    expect("fAbortOnError", block.fAbortOnError, FALSE);
    expect("fNull", block.fNull, FALSE);
    expect("XoffLim", block.XoffLim, zentavol::kInputQueueSize / 8);
    expect("XonLim", block.XonLim, zentavol::kInputQueueSize / 2);

    // The second try, for a driver that refused the first: its own limits, the rest the same.
    const DCB fallback = zentavol::line_control_block(zentavol::kLineSettings, driver, false);
    expect("fallback XonLim", fallback.XonLim, 111);
    expect("fallback XoffLim", fallback.XoffLim, 222);
    expect("fallback BaudRate", fallback.BaudRate, 9600);
    expect("fallback fTXContinueOnXoff", fallback.fTXContinueOnXoff, TRUE);
    expect("fallback fInX", fallback.fInX, TRUE);

    if (failures == 0) {
        std::puts("control block ok");
    }
    return failures == 0 ? 0 : 1;
}
