// The port listing on Linux: udev's stable names and the ttys that a driver serves, from /dev and
// sysfs.
#include <algorithm>
#include <fstream>
#include <utility>

#include "port_listing.h"

namespace zentavol {
namespace {

// ttyS2 before ttyS10: by the name's letters, then by its number.
bool tty_name_before(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        const auto digits = name.find_first_of("0123456789");
        const std::string letters = name.substr(0, digits);
        const std::string number = digits == std::string::npos ? "" : name.substr(digits);
        return std::pair(letters, std::pair(number.size(), number));
    };
    return split(a) < split(b);
}

}  // namespace

std::vector<PortListing> list_serial_ports(const DeviceTree& tree) {
    namespace fs = std::filesystem;
    std::vector<PortListing> ports;
    std::error_code error;

    // The stable names that udev gives, each with the device it leads to.
    std::vector<fs::path> stable_names(fs::directory_iterator(tree.dev / "serial" / "by-id", error),
                                       fs::directory_iterator{});
    std::sort(stable_names.begin(), stable_names.end());
    for (const auto& name : stable_names) {
        const auto target = fs::read_symlink(name, error);
        if (!error) {
            ports.push_back(
                {name.string(), (name.parent_path() / target).lexically_normal().string()});
        }
    }

    // Every terminal that a driver serves. The 8250 driver keeps a ttyS node for each port it
    // could have; only those of type non-zero are really there.
    std::vector<std::string> ttys;
    for (const auto& entry : fs::directory_iterator(tree.sys / "class" / "tty", error)) {
        const std::string name = entry.path().filename().string();
        if (!fs::is_symlink(entry.path() / "device" / "driver", error)) {
            continue;
        }
        if (name.starts_with("ttyS")) {
            int type = 0;
            std::ifstream(entry.path() / "type") >> type;
            if (type == 0) {
                continue;
            }
        }
        ttys.push_back(name);
    }
    std::sort(ttys.begin(), ttys.end(), tty_name_before);
    for (const auto& name : ttys) {
        const auto driver =
            fs::read_symlink(tree.sys / "class" / "tty" / name / "device" / "driver", error);
        ports.push_back({(tree.dev / name).string(), error ? "" : driver.filename().string()});
    }
    return ports;
}

}  // namespace zentavol
