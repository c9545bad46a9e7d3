#include "PortDevice.h"

#include "Ini.h"

#include <cstdlib>

namespace files {

std::string PortKey(int port) { return "COM" + std::to_string(port); }

std::string PortVariable(int port) { return "QCOM726_" + PortKey(port); }

PortDevice DeviceOfPort(int port, const std::vector<std::string>& mapFiles) {
    if (const char* mapped = std::getenv(PortVariable(port).c_str()); mapped && *mapped)
        return {mapped, PortDevice::Variable, {}};
    for (const std::string& file : mapFiles) {
        IniText map;
        ReadIni(file, map);  // a missing or unreadable map maps nothing
        if (const auto device = map.FirstValue(PortKey(port)); device && !device->empty())
            return {*device, PortDevice::File, file};
    }
    return {"/dev/ttyS" + std::to_string(port - 1), PortDevice::Default, {}};
}

}  // namespace files
