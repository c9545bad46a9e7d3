// Serial devices and the COM numbers the serial library maps them to
// (files/PortMap.h says how): the user's QCOM726.ini, then the one beside
// the library.
#pragma once

#include "Outcome.h"

#include <string>
#include <vector>

namespace cli::ports {

constexpr int HighestPort = 255;

struct Device {
    std::string path;         // /dev/ttyUSB0
    std::string description;  // maker, product and serial number of a USB adapter
};
// The serial devices present: /dev/ttyS* with a port behind it, ttyUSB*, ttyACM*.
std::vector<Device> SerialDevices();

// The mapping files in the order the library reads them.
std::vector<std::string> MapFiles();
std::string UserMapFile();
std::string LibraryMapFile();

// The device of COM n, and where that comes from ("" for the default).
std::string DeviceOf(int port);
std::string SourceOf(int port);

// Writes COM n = device atomically where the library will take it: the
// user's file when it already maps n or the library's folder is not
// writable, else the file beside the library.  Gives the file written.
kv618::Outcome<std::string> Map(int port, const std::string& device);

}  // namespace cli::ports
