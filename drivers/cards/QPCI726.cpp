// QPCI726.DLL: the ISA card, found by its I/O base address.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "CardSocket.h"
#include "Codes.h"
#include "Links.h"

extern "C" int32_t QPCI726_Init(int32_t* handle, int32_t base) {
    if (base < 0 || base > drv::cards::HighestIsaBase) return drv::RefuseInit(handle);
    return drv::cards::OpenCard(handle, drv::cards::IsaSocketName(base));
}

DRV_DEFINE_COMMON_ENTRY_POINTS(QPCI726)
