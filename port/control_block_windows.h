// The device-control block that the Windows backend's configure hands to SetCommState, reachable
// by the control-block test program.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace zentavol {

// What the line-settings text names, completed where the text leaves the line unusable or
// fragile; with the driver's own XON/XOFF limits when `own_queue_limits` is false.
DCB line_control_block(const char* line_settings, const DCB& driver_block, bool own_queue_limits);

}  // namespace zentavol
