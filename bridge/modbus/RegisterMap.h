// The Modbus face's register map: one table of every point a unit serves,
// from which docs/modbus.md's table and the CSV a SCADA imports
// (docs/modbus-map.csv) are both rendered.  Every module is one unit with the
// same map; addresses are the protocol's, counted from 0.
#pragma once

#include <modbus.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kvbridge::modbus {

// The four tables of the protocol.
enum class Table : uint8_t { Coils, DiscreteInputs, InputRegisters, HoldingRegisters };

// Where a point's value comes from, and so when it may be served.
enum class Source : uint8_t {
    Inputs,          // polled: fresh within 3 inputs intervals
    Status,          // polled: fresh within 3 status intervals
    Counters,        // polled: fresh within 3 counter intervals (a whole set)
    Outputs,         // what the bridge wrote; unknown until it wrote all 32
    OutputsKnown,    // whether it did
    InputsAge, StatusAge, CountersAge,  // milliseconds since that poll answered
    Identification,  // read when the module answered
    ResetCounters,   // a command; reads 0
    ResetStatus,     // a command; reads 0
};

enum class Type : uint8_t { Bit, Uint16, Uint32, Text };

// The protocol's exception codes the face answers with, as libmodbus names them.
enum Exception : uint8_t {
    NoException = 0,
    IllegalFunction = MODBUS_EXCEPTION_ILLEGAL_FUNCTION,  // a function the face does not serve, or a write not enabled
    IllegalAddress = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS,  // outside the map, or a value the section does not poll
    IllegalValue = MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE,      // a quantity or a value the request may not have
    DeviceFailure = MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE,  // the outputs are not known, or the module refused the write
    Busy = MODBUS_EXCEPTION_SLAVE_OR_SERVER_BUSY,            // the line's queue of commands is full
    PathUnavailable = MODBUS_EXCEPTION_GATEWAY_PATH,         // no module has that unit id
    TargetFailed = MODBUS_EXCEPTION_GATEWAY_TARGET,          // the module is silent, or the value is not fresh
};

// One row of the table: a single value, or for bits a numbered run of them
// (DIN0-DIN31).
struct Point {
    Table table;
    uint16_t address;  // the first
    uint16_t count;    // bits of the run, or registers of the value
    Type type;
    std::string name;  // of a run: the prefix, numbered from 0
    std::string unit;  // of docs/quantities.md; empty for a count or a state
    std::string meaning;
    Source source;
    int counter = 0, quantity = 0;  // Source::Counters: which value of the set
};

// Every row, table by table in address order.
const std::vector<Point>& Map();

// Points of a table: its size (the first address past its last point).
uint16_t TableSize(Table table);
// The row that holds the address, or null.
const Point* PointAt(Table table, uint16_t address);

// Registers of a text point: two characters each, the first in the high byte.
inline constexpr int IdentificationRegisters = 10;
// Counter n's quantity q: its first register.
uint16_t CounterAddress(int counter, int quantity);

// The table as the CSV a SCADA imports: one line per point (every bit of a
// run on its own), "address,type,name,unit,scale".
std::string MapCsv();
// The table as docs/modbus.md shows it, in Markdown.
std::string MapMarkdown();

}  // namespace kvbridge::modbus
