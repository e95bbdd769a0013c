// The port listing on Windows: the COM ports of the registry's SERIALCOMM map.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "port_listing.h"

namespace zentavol {

std::vector<PortListing> list_serial_ports(const DeviceTree& /*tree*/) {
    std::vector<std::pair<long, PortListing>> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    for (DWORD index = 0;; ++index) {
        char device[256] = {};
        char com[64] = {};
        DWORD device_size = sizeof device;
        DWORD com_size = sizeof com - 1;
        DWORD type = 0;
        const LONG result = ::RegEnumValueA(key, index, device, &device_size, nullptr, &type,
                                            reinterpret_cast<BYTE*>(com), &com_size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        const std::string name = com;
        const long number =
            name.starts_with("COM") ? std::strtol(name.c_str() + 3, nullptr, 10) : 0;
        // Windows reaches ports above COM9 only through the device prefix.
        found.push_back({number, {number > 9 ? "\\\\.\\" + name : name, device}});
    }
    ::RegCloseKey(key);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PortListing> ports;
    for (auto& [number, port] : found) {
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace zentavol
