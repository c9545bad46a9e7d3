// QPCI1726.DLL: the PCI card.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "CardSocket.h"
#include "Codes.h"
#include "Links.h"

extern "C" int32_t QPCI1726_Init(int32_t* handle) {
    const std::string path = drv::cards::cardFolder() + "/pci1726.sock";
    return drv::openLink(handle, [&](std::unique_ptr<drv::Transport>& transport) {
        return drv::cards::CardSocket::open(path, transport);
    });
}

DRV_DEFINE_COMMON_ENTRY_POINTS(QPCI1726)
