#include "port_listing.h"

namespace zentavol {

bool print_serial_ports(std::FILE* out, const DeviceTree& tree) {
    const auto ports = list_serial_ports(tree);
    if (ports.empty()) {
        std::fputs("no serial ports found\n", out);
    }
    for (const auto& port : ports) {
        std::fprintf(out, "%s  %s\n", port.name.c_str(), port.description.c_str());
    }
    std::fflush(out);
    return !ports.empty();
}

}  // namespace zentavol
