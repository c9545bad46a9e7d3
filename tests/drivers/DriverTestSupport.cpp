#include "DriverTestSupport.h"

#include <dlfcn.h>
#include <stdexcept>

namespace drvtest {

Outcome exchange(uint8_t type, int32_t handle, uint8_t address, uint8_t function, uint8_t subcode,
                 std::array<uint8_t, 5> d) {
    Outcome outcome;
    TOdpoved reply{};
    PrenosDat(type, handle, address, function, subcode, d[0], d[1], d[2], d[3], d[4], outcome.error, reply);
    outcome.d = d;
    return outcome;
}

::testing::AssertionResult failedWith(const Outcome& outcome, int code) {
    if (outcome.error != code) {
        return ::testing::AssertionFailure() << "code " << int(outcome.error) << ", not " << code;
    }
    if (outcome.d != std::array<uint8_t, 5>{}) return ::testing::AssertionFailure() << "D0..D4 not cleared";
    return ::testing::AssertionSuccess();
}

TInitParametry lanBlock(uint16_t port, int32_t timeoutMs, const char* ip) {
    TInitParametry block{};
    block[0] = reinterpret_cast<intptr_t>(ip);
    block[1] = port;
    block[2] = timeoutMs;
    return block;
}

Library::Library(const std::string& file) {
    const std::string path = SlozkaProgramu() + "/" + file;
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error("cannot load " + path);
}

Library::~Library() {
    if (handle_) ::dlclose(handle_);
}

void* Library::symbol(const std::string& name) const {
    void* entry = ::dlsym(handle_, name.c_str());
    if (!entry) throw std::runtime_error("missing " + name);
    return entry;
}

}  // namespace drvtest
