// QPCI726.DLL: the ISA card, found by its I/O base address.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "CardSocket.h"
#include "Codes.h"
#include "Links.h"

extern "C" int32_t QPCI726_Init(int32_t* handle, int32_t base) {
    if (base < 0 || base > drv::cards::HighestIsaBase) {
        if (handle) *handle = 0;
        return drv::InvalidParameter;
    }
    const std::string path = drv::cards::cardFolder() + "/" + drv::cards::isaSocketName(base);
    return drv::openLink(handle, [&](std::unique_ptr<drv::Transport>& transport) {
        return drv::cards::CardSocket::open(path, transport);
    });
}

DRV_DEFINE_COMMON_ENTRY_POINTS(QPCI726)
