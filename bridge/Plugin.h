// The bridge as kv618's plug-in (kv618-bridge.so, beside the executable):
// only `kv618 bridge` loads it, so every other command of the tool starts
// without libmosquitto and the TLS libraries it brings.  Its two entry points
// have C linkage and plain arguments, so that no C++ object crosses.
#pragma once

#define KV618_BRIDGE_PLUGIN "kv618-bridge.so"
#define KV618_BRIDGE_RUN "kv618_bridge_run"
#define KV618_BRIDGE_CHECK "kv618_bridge_check"

extern "C" {
// Both take the configuration file and give an exit status: run runs the
// bridge until SIGTERM or SIGINT (kvbridge::RunBridge), check only reads the
// file (kvbridge::CheckConfig).
using Kv618BridgeEntry = int (*)(const char* configPath);
int kv618_bridge_run(const char* configPath);
int kv618_bridge_check(const char* configPath);
}
