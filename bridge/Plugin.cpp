#include "Plugin.h"

#include "Bridge.h"
#include "Messages.h"

extern "C" __attribute__((visibility("default"))) int kv618_bridge_run(const char* configPath) {
    i18n::Start();
    return kvbridge::RunBridge(configPath ? configPath : "");
}

extern "C" __attribute__((visibility("default"))) int kv618_bridge_check(const char* configPath) {
    i18n::Start();
    return kvbridge::CheckConfig(configPath ? configPath : "");
}
