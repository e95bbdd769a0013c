// The device-control block that configure hands to SetCommState, checked field by field without a
// port. A Windows program of its own, run under Wine by the Windows tests; prints each field that
// is wrong and ends with status 1, or prints "control block ok".
#include <cstdio>

#include "control_block_windows.h"
#include "line_settings.h"
#include "port_timeouts.h"

namespace {

int failures = 0;

void expect(const char* field, unsigned long got, unsigned long wanted) {
    if (got != wanted) {
        std::printf("%s is %lu, wanted %lu\n", field, got, wanted);
        ++failures;
    }
}

}  // namespace

int main() {
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
