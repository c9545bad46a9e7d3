// What a request asks, once libmodbus has received it whole (framing, CRC,
// lengths by function code): its fields read, checked in the protocol's
// order (function, quantity, address), and what the face does about it:
// answer from the image, refuse with an exception, or hand a write to the
// module's line.  No sockets here, so that the fuzz target drives it.
#pragma once

#include "Config.h"
#include "Image.h"
#include "Payloads.h"
#include "RegisterMap.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kvbridge::modbus {

inline constexpr uint8_t Broadcast = 0;

struct Request {
    enum Kind {
        Read,
        Write,
        Refused,    // of a good form, answered with `exception`
        Malformed,  // the connection is closed, nothing answered or written
    } kind = Malformed;
    uint8_t unit = 0, function = 0;
    bool broadcast = false;  // unit 0 on a serial line
    Table table = Table::Coils;
    uint16_t address = 0, count = 0;
    Exception exception = NoException;
    // The stream is out of step after the answer (a function libmodbus does
    // not know, whose data it left unread): close after answering.
    bool closeAfter = false;
    uint32_t coils = 0;               // written coils, address first at bit 0
    std::vector<uint16_t> registers;  // written registers
};

// `frame` and `length` as modbus_receive gave them; `header` is
// modbus_get_header_length (7 with TCP's MBAP header, 1 with RTU's address).
Request Interpret(const uint8_t* frame, int length, int header, bool tcp);

// The served modules of one [modbus] section by unit id: their place in
// the image, or -1.
using Units = std::array<int, 256>;

// What the server does with a request.
struct Answer {
    enum Kind { Reply, Refuse, Write, Ignore, Close } kind = Ignore;
    Exception exception = NoException;
    size_t place = 0;
    std::vector<Command> commands;  // Write: carried out in this order, one after the other
    bool closeAfter = false;
    std::string refusal;  // why a write was refused, for the log; empty: nothing to log
};

// Reply: `snapshot` holds the values read.  A write that needs no exchange
// (a reset register written with 0) is a Reply too.
Answer Decide(const Request& request, const Units& units, const Image& image, Clock::time_point now,
              Snapshot& snapshot);

}  // namespace kvbridge::modbus
