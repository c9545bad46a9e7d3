#include "Plugin.h"

#include "Bridge.h"

extern "C" __attribute__((visibility("default"))) int kv618_bridge_run(const char* configPath) {
    return kvbridge::RunBridge(configPath ? configPath : "");
}
