#include "Plugin.h"

#include "Bridge.h"

extern "C" __attribute__((visibility("default"))) int kv618_bridge_run(const char* configPath) {
    return kvbridge::RunBridge(configPath ? configPath : "");
}

extern "C" __attribute__((visibility("default"))) int kv618_bridge_check(const char* configPath) {
    return kvbridge::CheckConfig(configPath ? configPath : "");
}
