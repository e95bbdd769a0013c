// What the Windows backend of the serial port object remembers besides its handle.
#pragma once

#include <cstdint>

namespace zentavol {

struct PortState {
    // A wait or a read has shown that the port is gone.
    bool gone = false;
    // Bytes that the last wait found in the input queue (0: not known).
    std::uint32_t waiting = 0;
};

}  // namespace zentavol
