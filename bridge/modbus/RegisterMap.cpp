#include "RegisterMap.h"

#include "Quantities.h"

#include <algorithm>
#include <array>

namespace kvbridge::modbus {

namespace {

constexpr uint16_t FirstCounterRegister = 20;
constexpr int RegistersPerCounter = 2 * static_cast<int>(wire::Quantities.size());

std::vector<Point> BuildMap() {
    using enum Table;
    std::vector<Point> map = {
        {Coils, 0, 32, Type::Bit, "DOUT", "", "output n as the bridge wrote it; written by functions 5 and 15", Source::Outputs},
        {DiscreteInputs, 0, 32, Type::Bit, "DIN", "", "input n, the input negation applied, as the module reports it",
         Source::Inputs},
        {InputRegisters, 0, 1, Type::Uint16, "status", "",
         "the status register: bit 1 FN, 2 PRF, 4 PWR, 5 RST, 6 ERR24", Source::Status},
        {InputRegisters, 1, 1, Type::Uint16, "outputs_known", "",
         "1 when the bridge wrote all 32 outputs since the module last answered, else 0", Source::OutputsKnown},
        {InputRegisters, 2, 2, Type::Uint32, "inputs", "", "DIN0-DIN31 as one number, DIN0 = bit 0", Source::Inputs},
        {InputRegisters, 4, 2, Type::Uint32, "inputs_age", "ms", "time since the inputs were last read",
         Source::InputsAge},
        {InputRegisters, 6, 2, Type::Uint32, "status_age", "ms", "time since the status register was last read",
         Source::StatusAge},
        {InputRegisters, 8, 2, Type::Uint32, "counters_age", "ms", "time since the counters were last read whole",
         Source::CountersAge},
        {InputRegisters, 10, IdentificationRegisters, Type::Text, "identification", "",
         "the identification text, e.g. \"KV-618   v.1.04\", padded with NUL", Source::Identification},
    };
    for (int counter = 0; counter < wire::CounterCount; ++counter)
        for (size_t q = 0; q < kv618::QuantityNames.size(); ++q) {
            const kv618::QuantityName& name = kv618::QuantityNames[q];
            map.push_back({InputRegisters, CounterAddress(counter, static_cast<int>(q)), 2, Type::Uint32,
                           "counter" + std::to_string(counter) + "_" + name.key, name.unit,
                           "counter " + std::to_string(counter) + ": " + name.label, Source::Counters, counter,
                           static_cast<int>(q)});
        }
    map.push_back({HoldingRegisters, 0, 2, Type::Uint32, "outputs", "",
                   "DOUT0-DOUT31 as one number, DOUT0 = bit 0; reads what the bridge wrote", Source::Outputs});
    map.push_back({HoldingRegisters, 2, 1, Type::Uint16, "reset_counters", "",
                   "write a mask: bit n resets counter n (15: all four); reads 0", Source::ResetCounters});
    map.push_back({HoldingRegisters, 3, 1, Type::Uint16, "reset_status", "", "write 1: resets the status register; reads 0",
                   Source::ResetStatus});
    return map;
}

const char* TableName(Table table) {
    switch (table) {
        case Table::Coils: return "coil";
        case Table::DiscreteInputs: return "discrete input";
        case Table::InputRegisters: return "input register";
        case Table::HoldingRegisters: return "holding register";
    }
    return "";
}

std::string TypeName(const Point& p) {
    switch (p.type) {
        case Type::Bit: return TableName(p.table);
        case Type::Uint16: return std::string(TableName(p.table)) + " uint16";
        case Type::Uint32: return std::string(TableName(p.table)) + " uint32";
        case Type::Text: return std::string(TableName(p.table)) + " text(" + std::to_string(2 * p.count) + ")";
    }
    return "";
}

std::string Range(const Point& p) {
    const int last = p.address + p.count - 1;
    return last == p.address ? std::to_string(p.address) : std::to_string(p.address) + "-" + std::to_string(last);
}

}  // namespace

const std::vector<Point>& Map() {
    static const std::vector<Point> map = BuildMap();
    return map;
}

uint16_t CounterAddress(int counter, int quantity) {
    return static_cast<uint16_t>(FirstCounterRegister + counter * RegistersPerCounter + 2 * quantity);
}

namespace {

// Built once: the row of every address, table by table.
const std::array<std::vector<const Point*>, 4>& Rows() {
    static const auto rows = [] {
        std::array<std::vector<const Point*>, 4> rows;
        for (const Point& p : Map()) {
            auto& row = rows[static_cast<size_t>(p.table)];
            if (row.size() < static_cast<size_t>(p.address + p.count)) row.resize(p.address + p.count, nullptr);
            for (int a = p.address; a < p.address + p.count; ++a) row[static_cast<size_t>(a)] = &p;
        }
        return rows;
    }();
    return rows;
}

}  // namespace

uint16_t TableSize(Table table) { return static_cast<uint16_t>(Rows()[static_cast<size_t>(table)].size()); }

const Point* PointAt(Table table, uint16_t address) {
    const auto& row = Rows()[static_cast<size_t>(table)];
    return address < row.size() ? row[address] : nullptr;
}

std::string MapCsv() {
    std::string csv = "address,type,name,unit,scale\n";
    for (const Point& p : Map()) {
        if (p.type != Type::Bit) {
            csv += std::to_string(p.address) + "," + TypeName(p) + "," + p.name + "," + p.unit + ",1\n";
            continue;
        }
        for (int bit = 0; bit < p.count; ++bit)
            csv += std::to_string(p.address + bit) + "," + TypeName(p) + "," + p.name + std::to_string(bit) + "," +
                   p.unit + ",1\n";
    }
    return csv;
}

std::string MapMarkdown() {
    std::string text = "| Address | Type | Name | Unit | What |\n|---|---|---|---|---|\n";
    for (const Point& p : Map()) {
        const std::string name =
            p.type == Type::Bit ? p.name + "0-" + p.name + std::to_string(p.count - 1) : p.name;
        text += "| " + Range(p) + " | " + TypeName(p) + " | `" + name + "` | " + p.unit + " | " + p.meaning + " |\n";
    }
    return text;
}

}  // namespace kvbridge::modbus
