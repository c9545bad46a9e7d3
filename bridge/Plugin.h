// The bridge as kv618's plug-in (kv618-bridge.so, beside the executable):
// only `kv618 bridge` loads it, so every other command of the tool starts
// without libmosquitto and the TLS libraries it brings.  Its one entry point
// has C linkage and plain arguments, so that no C++ object crosses.
#pragma once

#define KV618_BRIDGE_PLUGIN "kv618-bridge.so"
#define KV618_BRIDGE_RUN "kv618_bridge_run"

extern "C" {
// Runs the bridge of the configuration file until SIGTERM or SIGINT: the exit
// status of kvbridge::RunBridge.
using Kv618BridgeRun = int (*)(const char* configPath);
int kv618_bridge_run(const char* configPath);
}
