// kv618-bridge --config FILE: the bridge on its own, for the service
// manager and the tests.
#include "Bridge.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--config") == 0) return kvbridge::RunBridge(argv[2]);
    std::fprintf(stderr, "usage: %s --config FILE\n", argc > 0 ? argv[0] : "kv618-bridge");
    return 2;
}
