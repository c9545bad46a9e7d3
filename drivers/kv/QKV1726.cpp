// QKV1726.DLL: the module behind the LAN converter, over UDP.
#pragma GCC visibility push(default)
#include "qxxx726_abi.h"
#pragma GCC visibility pop

#include "Codes.h"
#include "Links.h"
#include "UdpLink.h"

extern "C" int32_t QKV1726_Init(int32_t* handle, const intptr_t* block) {
    drv::kv::Parameters parameters;
    if (const int32_t e = drv::kv::ReadParameters(block, parameters)) return drv::RefuseInit(handle, e);
    return drv::OpenLink(
        handle,
        [&](std::unique_ptr<drv::Transport>& transport) { return drv::kv::UdpLink::Open(parameters.peer, transport); },
        parameters.timeoutMs);
}

DRV_DEFINE_COMMON_ENTRY_POINTS(QKV1726)
