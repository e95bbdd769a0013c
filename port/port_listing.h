// The serial ports that the system has, for --list. Opens none of them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zentavol {

// One serial port that the system knows: the name to type, and what it is.
struct PortListing {
    std::string name;
    std::string description;
    friend bool operator==(const PortListing&, const PortListing&) = default;
};

// Where the system describes its devices (a backend may ignore it); the tests point it at a tree
// of their own.
struct DeviceTree {
    std::filesystem::path dev = "/dev";
    std::filesystem::path sys = "/sys";
};

// The serial ports that the system has, in a stable order.
std::vector<PortListing> list_serial_ports(const DeviceTree& tree = {});

// Prints the listing, a port a line: the name to type, two blanks, what it is. False when the
// system has no serial port, which is then said instead.
bool print_serial_ports(std::FILE* out, const DeviceTree& tree = {});

}  // namespace zentavol
