// A stand-in interface library for the binding's own tests.  It is built
// several times under different prefixes and file names; every call is
// recorded in a journal file named by KV_FAKE_JOURNAL so the test sees what
// reached the library through a real dlopen.
#include "qxxx726_abi.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <chrono>

#ifndef FAKE_PREFIX
#error FAKE_PREFIX must name the entry-point prefix
#endif

#define CAT2(a, b) a##b
#define CAT(a, b) CAT2(a, b)
#define ENTRY(suffix) CAT(FAKE_PREFIX, suffix)

namespace {

void journal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void journal(const char* format, ...) {
    const char* path = std::getenv("KV_FAKE_JOURNAL");
    if (!path) return;
    FILE* f = std::fopen(path, "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

// KV_FAKE_HANG=Init or Send: that entry never returns, as a library stuck
// in its driver.
void hangIf(const char* entry) {
    const char* hang = std::getenv("KV_FAKE_HANG");
    if (!hang || std::strcmp(hang, entry) != 0) return;
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int32_t envInt(const char* name, int32_t fallback) {
    const char* v = std::getenv(name);
    return v ? static_cast<int32_t>(std::strtol(v, nullptr, 0)) : fallback;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t ENTRY(_Version)(void) { return 0x0104; }

#if defined(FAKE_INIT_BLOCK)
__attribute__((visibility("default"))) int32_t ENTRY(_Init)(int32_t* handle, const intptr_t* block) {
    const char* ip = reinterpret_cast<const char*>(block[0]);
    journal("Init ip=%s port=%ld timeout=%ld rest=%ld", ip ? ip : "(null)", static_cast<long>(block[1]),
            static_cast<long>(block[2]), static_cast<long>(block[3] | block[15]));
    hangIf("Init");
    *handle = envInt("KV_FAKE_INIT_HANDLE", 77);
    return envInt("KV_FAKE_INIT_RESULT", 0);
}
#elif defined(FAKE_INIT_PLAIN)
__attribute__((visibility("default"))) int32_t ENTRY(_Init)(int32_t* handle) {
    journal("Init");
    *handle = envInt("KV_FAKE_INIT_HANDLE", 77);
    return envInt("KV_FAKE_INIT_RESULT", 0);
}
#else
__attribute__((visibility("default"))) int32_t ENTRY(_Init)(int32_t* handle, int32_t value) {
    journal("Init value=%d", value);
    *handle = envInt("KV_FAKE_INIT_HANDLE", 77);
    return envInt("KV_FAKE_INIT_RESULT", 0);
}
#endif

__attribute__((visibility("default"))) int32_t ENTRY(_SetConfig)(int32_t handle, int32_t rate, int32_t time,
                                                                  int32_t mode) {
    journal("SetConfig handle=%d rate=%d time=%d mode=%d", handle, rate, time, mode);
    return 0;
}

#ifndef FAKE_WITHOUT_GETCONFIG
__attribute__((visibility("default"))) int32_t ENTRY(_GetConfig)(int32_t, int32_t* rate, int32_t* time,
                                                                  int32_t* mode) {
    *rate = *time = *mode = 0;
    return 0;
}
#endif

__attribute__((visibility("default"))) int32_t ENTRY(_Send)(int32_t handle, const int32_t* request, int32_t* reply,
                                                             int32_t* status, int32_t* error) {
    journal("Send handle=%d req=%d,%d,%d,%d,%d,%d,%d,%d", handle, request[0], request[1], request[2], request[3],
            request[4], request[5], request[6], request[7]);
    hangIf("Send");
    reply[0] = 0x12 | 0x100;  // only the low byte may count
    reply[1] = 0x34;
    reply[2] = 0x56;
    reply[3] = 0x78;
    *status = 0x01;
    *error = envInt("KV_FAKE_SEND_ERROR", 0);
    return envInt("KV_FAKE_SEND_RESULT", 0);
}

__attribute__((visibility("default"))) int32_t ENTRY(_Done)(int32_t* handle) {
    journal("Done handle=%d", *handle);
    *handle = 0;
    return 0;
}

__attribute__((visibility("default"))) int32_t ENTRY(_Error)(int32_t code, int32_t* buffer) {
    if (envInt("KV_FAKE_ERROR_UNTERMINATED", 0)) {
        for (int i = 0; i < QXXX726_TEXT_CELLS; ++i) buffer[i] = 'x';
        return 0;
    }
    // "chyba č. N" in Windows-1250, from cell 0 as a library may write it.
    char text[64];
    std::snprintf(text, sizeof text, "chyba \xE8. %d", code);
    int i = 0;
    for (; text[i] && i < QXXX726_TEXT_CELLS - 1; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
    buffer[i] = 0;
    return 0;
}

}  // extern "C"
