// The emulator's request decoding: frames off a packet transport and bytes
// off the serial line, against one module that keeps its state between runs
// of the fuzzer like a module that is never powered down.
#include "Service.h"
#include "SyncFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static emu::ManualClock clock;
    static emu::Service service(clock, 1);
    static wire::SyncFramer framer = wire::RequestFramer();
    clock.Advance(37);

    const std::span<const uint8_t> bytes(data, size);
    (void)service.OnFrame(bytes);
    framer.Add(bytes);
    unsigned damaged = 0;
    for (const auto& frame : wire::TakeRequests(framer, damaged)) (void)service.OnFrame(frame);
    if (framer.Pending() > 4096) framer.Clear();
    return 0;
}
