// Serial devices and the COM numbers the serial library maps them to: the
// environment variable QCOM726_COM<n>, else a line COM<n>=device in the
// user's QCOM726.ini, else in the one beside the library, else /dev/ttyS<n-1>.
#pragma once

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
// writable, else the file beside the library.  Empty on success (`file` then
// names the file written), else why not.
std::string Map(int port, const std::string& device, std::string& file);

}  // namespace cli::ports
