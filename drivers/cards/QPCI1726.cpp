// QPCI1726.DLL: the PCI card.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "CardSocket.h"
#include "Codes.h"
#include "Links.h"

extern "C" int32_t QPCI1726_Init(int32_t* handle) { return drv::cards::OpenCard(handle, "pci1726.sock"); }

DRV_DEFINE_COMMON_ENTRY_POINTS(QPCI1726)
