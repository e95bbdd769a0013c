// What the POSIX backend of the serial port object remembers besides its descriptor.
#pragma once

#include <cstdint>

namespace zentavol {

// What names the port's node, seen at open: lets reopen tell a node made anew from an old one.
struct NodeIdentity {
    std::uint64_t name_device = 0, name_inode = 0, name_changed_ns = 0;
    std::uint64_t node_device = 0, node_inode = 0;
    bool name_is_link = false;
    bool pseudo_terminal = false;
    bool known = false;
    friend bool operator==(const NodeIdentity&, const NodeIdentity&) = default;
};

struct PortState {
    // The last read found more bytes waiting: the next wait need not ask the system.
    bool more_waiting = false;
    // The last wait asked the system and heard that bytes are waiting.
    bool reported_readable = false;
    // A wait or a read has shown that the port is gone.
    bool gone = false;
    NodeIdentity node;
};

}  // namespace zentavol
