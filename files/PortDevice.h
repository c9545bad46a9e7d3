// Which serial device is COM port n: the environment variable
// QCOM726_COM<n>, else the first line COM<n> = device (in any section) of the
// first map file that has one (QCOM726.ini: the user's, then the one beside
// the library), else /dev/ttyS<n-1>.  The serial library and kv618 ask here.
#pragma once

#include <string>
#include <vector>

namespace files {

std::string PortKey(int port);       // COM3
std::string PortVariable(int port);  // QCOM726_COM3

struct PortDevice {
    std::string device;
    enum Source { Default, Variable, File } source = Default;
    std::string file;  // the map file, for File
};
PortDevice DeviceOfPort(int port, const std::vector<std::string>& mapFiles);

}  // namespace files
