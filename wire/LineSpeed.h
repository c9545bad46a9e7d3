// Line speeds: the termios speed of a serial line rate, for both ends of the
// line (the serial library sets it, the emulated module compares with it).
// How long a library waits for a reply at a rate is in ReplyTime.h.
#pragma once

#include "ReplyTime.h"

#include <cstdint>
#include <termios.h>

namespace wire {

// B0 for a rate the line does not know.
inline speed_t LineSpeed(int32_t rate) {
    switch (rate) {
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

}  // namespace wire
