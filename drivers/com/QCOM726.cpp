// QCOM726.DLL: the module on a serial line.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "Codes.h"
#include "Links.h"
#include "SerialPort.h"

extern "C" int32_t QCOM726_Init(int32_t* handle, int32_t port) {
    if (port < 1 || port > drv::com::HighestPort) return drv::RefuseInit(handle);
    const std::string path = drv::com::PortPath(port, drv::com::IniFiles());
    const int32_t result = drv::OpenLink(handle, [&](std::unique_ptr<drv::Transport>& transport) {
        return drv::com::SerialPort::Open(path, transport);
    });
    if (result == drv::PortMissing) drv::SetDetailedText(drv::PortMissing, drv::com::MissingPortText(port, path));
    return result;
}

DRV_DEFINE_COMMON_ENTRY_POINTS(QCOM726)
