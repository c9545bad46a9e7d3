// Open links of one library and the generic body of its entry points.
// Every library keeps its own table: a handle means nothing to another one.
#pragma once

#include "Codes.h"
#include "Exchange.h"
#include "Transport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace drv {

struct Config {
    int32_t rate = 9600;  // the rate a line starts at before _SetConfig
    int32_t time = 100;
    int32_t mode = 2;
};

constexpr int32_t OnlyMode = 2;
constexpr size_t MostLinks = 64;

bool IsKnownRate(int32_t rate);

class Link {
public:
    // A fixed time-out (ms, > 0) overrides the rule from rate and time, but
    // not an exact time-out asked for by _SetConfig (wire::ReplyTimeoutMs).
    explicit Link(std::unique_ptr<Transport> transport, int32_t fixedTimeoutMs = 0);

    int32_t SetConfig(int32_t rate, int32_t time, int32_t mode);
    Config CurrentConfig();
    // Takes the next transaction number and carries out one exchange.
    Result Send(uint8_t address, uint8_t function, uint8_t subcode, const std::array<uint8_t, 5>& data);

private:
    int32_t TimeoutLocked() const;

    std::mutex mutex_;
    std::unique_ptr<Transport> transport_;
    std::shared_ptr<Trace> trace_;  // null unless KV618_TRACE was set when the link opened
    RecentRequests recent_;         // to name the late replies under an exact time-out
    Config config_;
    int32_t fixedTimeoutMs_;
    uint16_t nextTransaction_;
};

// Opens a transport: 0 and a transport, or an error code.
using Opener = std::function<int32_t(std::unique_ptr<Transport>&)>;

// The entry points' bodies, shared by all five libraries.
int32_t OpenLink(int32_t* handle, const Opener& open, int32_t fixedTimeoutMs = 0);
// Init refused before it opens anything (a parameter out of its range, by
// default): no link, and the code.
int32_t RefuseInit(int32_t* handle, int32_t code = InvalidParameter);
int32_t SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode);
int32_t GetConfig(int32_t handle, int32_t* rate, int32_t* time, int32_t* mode);
int32_t Send(int32_t handle, const int32_t* request, int32_t* reply, int32_t* status, int32_t* error);
int32_t Done(int32_t* handle);
int32_t ErrorText(int32_t code, int32_t* buffer);

}  // namespace drv

// Defines the six entry points that have the same shape in every library;
// the file that uses it also defines P_Init.  The ABI header must be included
// with default visibility so that these become the library's exports.
#define DRV_DEFINE_COMMON_ENTRY_POINTS(P)                                                              \
    extern "C" int32_t P##_Version(void) { return drv::LibraryVersion; }                             \
    extern "C" int32_t P##_SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode) {     \
        return drv::SetConfig(handle, rate, time, mode);                                              \
    }                                                                                                 \
    extern "C" int32_t P##_GetConfig(int32_t handle, int32_t* rate, int32_t* time, int32_t* mode) {  \
        return drv::GetConfig(handle, rate, time, mode);                                              \
    }                                                                                                 \
    extern "C" int32_t P##_Send(int32_t handle, const int32_t* request, int32_t* reply,              \
                                int32_t* status, int32_t* error) {                                   \
        return drv::Send(handle, request, reply, status, error);                                      \
    }                                                                                                 \
    extern "C" int32_t P##_Done(int32_t* handle) { return drv::Done(handle); }                       \
    extern "C" int32_t P##_Error(int32_t code, int32_t* buffer) { return drv::ErrorText(code, buffer); }
