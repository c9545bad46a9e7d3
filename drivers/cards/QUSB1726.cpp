// QUSB1726.DLL: the USB converter.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "CardSocket.h"
#include "Codes.h"
#include "Links.h"

extern "C" int32_t QUSB1726_Init(int32_t* handle) { return drv::cards::OpenCard(handle, "usb1726.sock"); }

DRV_DEFINE_COMMON_ENTRY_POINTS(QUSB1726)
