/* C ABI of the KV-618 interface libraries.
 *
 * Every interface library (QCOM726.DLL, QPCI726.DLL, QPCI1726.DLL,
 * QUSB1726.DLL, QKV1726.DLL) exports seven entry points named by its prefix
 * and one of the suffixes below.  All values are 32-bit; only the LAN
 * converter's parameter block is pointer-wide, because its cell 0 carries the
 * address of the IP text.  The full contract is in docs/library-abi.md.
 */
#ifndef QXXX726_ABI_H
#define QXXX726_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    QXXX726_REQUEST_CELLS = 8,   /* address, function, sub-code, D0..D4 */
    QXXX726_REPLY_CELLS = 100,   /* cells 0..3 carry the reply data bytes, 4.. late replies */
    QXXX726_TEXT_CELLS = 100,    /* one Windows-1250 code per cell, 0 ends */
    QXXX726_PARAM_CELLS = 16,    /* parameter block of the LAN converter */
    /* With an exact time-out (a negative time in _SetConfig), the late
       replies that came during the wait: their number in cell 4, their
       addresses from cell 5 on (docs/library-abi.md, _Send). */
    QXXX726_LATE_COUNT_CELL = 4,
    QXXX726_LATE_FIRST_CELL = 5,
    QXXX726_LATE_MOST = 16
};

/* Shapes shared by every library, P standing for the library's prefix. */
typedef int32_t (*Qxxx726_Version)(void);
typedef int32_t (*Qxxx726_SetConfig)(int32_t handle, int32_t rate, int32_t time, int32_t mode);
typedef int32_t (*Qxxx726_GetConfig)(int32_t handle, int32_t* rate, int32_t* time, int32_t* mode);
typedef int32_t (*Qxxx726_Send)(int32_t handle, const int32_t* request, int32_t* reply,
                                int32_t* status, int32_t* error);
typedef int32_t (*Qxxx726_Done)(int32_t* handle);
typedef int32_t (*Qxxx726_Error)(int32_t code, int32_t* buffer);

/* _Init differs by interface. */
typedef int32_t (*Qxxx726_InitPort)(int32_t* handle, int32_t value); /* QCOM726: port, QPCI726: base */
typedef int32_t (*Qxxx726_InitPlain)(int32_t* handle);               /* QPCI1726, QUSB1726 */
typedef int32_t (*Qxxx726_InitBlock)(int32_t* handle, const intptr_t* block); /* QKV1726 */

/* Declarations a library includes to get its exported names checked. */
#define QXXX726_DECLARE_COMMON(P)                                                              \
    int32_t P##_Version(void);                                                                 \
    int32_t P##_SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode);           \
    int32_t P##_GetConfig(int32_t handle, int32_t* rate, int32_t* time, int32_t* mode);        \
    int32_t P##_Send(int32_t handle, const int32_t* request, int32_t* reply, int32_t* status,  \
                     int32_t* error);                                                          \
    int32_t P##_Done(int32_t* handle);                                                         \
    int32_t P##_Error(int32_t code, int32_t* buffer);

QXXX726_DECLARE_COMMON(QCOM726)
QXXX726_DECLARE_COMMON(QPCI726)
QXXX726_DECLARE_COMMON(QPCI1726)
QXXX726_DECLARE_COMMON(QUSB1726)
QXXX726_DECLARE_COMMON(QKV1726)

int32_t QCOM726_Init(int32_t* handle, int32_t port);
int32_t QPCI726_Init(int32_t* handle, int32_t base);
int32_t QPCI1726_Init(int32_t* handle);
int32_t QUSB1726_Init(int32_t* handle);
int32_t QKV1726_Init(int32_t* handle, const intptr_t* block);

#ifdef __cplusplus
}
#endif

#endif
