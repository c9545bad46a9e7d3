// Small helpers shared by the library tests: one exchange through the
// program's binding, and direct access to a library's entry points.
#pragma once

#include "Qxxx726.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace drvtest {

struct Outcome {
    uint8_t error = 0xEE;
    std::array<uint8_t, 5> d{};  // D0..D4 after the exchange
};

// One PrenosDat with the given D0..D4.
Outcome exchange(uint8_t type, int32_t handle, uint8_t address, uint8_t function, uint8_t subcode,
                 std::array<uint8_t, 5> d = {});

// The exchange failed with the code and, as every failed exchange does,
// left D0..D4 cleared.
::testing::AssertionResult failedWith(const Outcome& outcome, int code);

// The parameter block of the LAN converter for 127.0.0.1:port.
TInitParametry lanBlock(uint16_t port, int32_t timeoutMs, const char* ip = "127.0.0.1");

// A library opened straight with dlopen, beside the test executable.
class Library {
public:
    explicit Library(const std::string& file);
    ~Library();
    template <typename F>
    F entry(const std::string& name) const {
        return reinterpret_cast<F>(symbol(name));
    }

private:
    void* symbol(const std::string& name) const;
    void* handle_ = nullptr;
};

}  // namespace drvtest
