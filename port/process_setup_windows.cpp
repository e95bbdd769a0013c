#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "process_setup.h"

namespace zentavol {

// Windows has no SIGPIPE: a console write to a closed pipe fails and the process goes on; and
// handles are not numbered from the lowest free one, so none can stand in for a closed stream.
// The heap returns large freed blocks by itself.
void prepare_console() {}

void pause_for(std::chrono::milliseconds duration) {
    ::Sleep(static_cast<DWORD>(duration.count()));
}

PrecisePauses::PrecisePauses() {
    // Sleep rounds up to the timer tick (15.6 ms unless asked): a second a record would drift.
    ::timeBeginPeriod(1);
}

PrecisePauses::~PrecisePauses() {
    ::timeEndPeriod(1);
}

}  // namespace zentavol
