#include "Request.h"

#include "Publisher.h"

#include <modbus.h>

namespace kvbridge::modbus {

namespace {

// Holding registers (RegisterMap.cpp): the outputs' two words, then the resets.
constexpr uint16_t OutputsHigh = 0, OutputsLow = 1, ResetCountersRegister = 2, ResetStatusRegister = 3;
constexpr uint16_t AllCounters = 0x000F;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

Request Refused(Request r, Exception e) {
    r.kind = Request::Refused;
    r.exception = e;
    return r;
}

// Quantity first, then the range, as the protocol checks them.
Request Ranged(Request r, int most) {
    if (r.count < 1 || r.count > most) return Refused(r, IllegalValue);
    if (r.address + r.count > TableSize(r.table)) return Refused(r, IllegalAddress);
    return r;
}

Table ReadTable(uint8_t function) {
    switch (function) {
        case MODBUS_FC_READ_COILS: return Table::Coils;
        case MODBUS_FC_READ_DISCRETE_INPUTS: return Table::DiscreteInputs;
        case MODBUS_FC_READ_HOLDING_REGISTERS: return Table::HoldingRegisters;
        default: return Table::InputRegisters;
    }
}

// The fields after the function code, whose form libmodbus has framed.
Request Fields(Request r, const uint8_t* pdu, int size) {
    switch (r.function) {
        case MODBUS_FC_READ_COILS:
        case MODBUS_FC_READ_DISCRETE_INPUTS:
        case MODBUS_FC_READ_HOLDING_REGISTERS:
        case MODBUS_FC_READ_INPUT_REGISTERS: {
            if (size != 5) return r;
            r.kind = Request::Read;
            r.table = ReadTable(r.function);
            r.address = Word(pdu + 1);
            r.count = Word(pdu + 3);
            const bool bits = r.table == Table::Coils || r.table == Table::DiscreteInputs;
            return Ranged(r, bits ? MODBUS_MAX_READ_BITS : MODBUS_MAX_READ_REGISTERS);
        }
        case MODBUS_FC_WRITE_SINGLE_COIL:
        case MODBUS_FC_WRITE_SINGLE_REGISTER: {
            if (size != 5) return r;
            r.kind = Request::Write;
            r.address = Word(pdu + 1);
            r.count = 1;
            const uint16_t value = Word(pdu + 3);
            if (r.function == MODBUS_FC_WRITE_SINGLE_REGISTER) {
                r.table = Table::HoldingRegisters;
                r.registers = {value};
                return Ranged(r, 1);
            }
            r.table = Table::Coils;
            if (value != 0xFF00 && value != 0x0000) return Refused(r, IllegalValue);
            r.coils = value ? 1 : 0;
            return Ranged(r, 1);
        }
        case MODBUS_FC_WRITE_MULTIPLE_COILS:
        case MODBUS_FC_WRITE_MULTIPLE_REGISTERS: {
            if (size < 6 || size != 6 + pdu[5]) return r;
            r.kind = Request::Write;
            r.address = Word(pdu + 1);
            r.count = Word(pdu + 3);
            const int bytes = pdu[5];
            if (r.function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS) {
                r.table = Table::HoldingRegisters;
                if (bytes != 2 * r.count) return Refused(r, IllegalValue);
                r = Ranged(r, MODBUS_MAX_WRITE_REGISTERS);
                if (r.kind != Request::Write) return r;
                for (int i = 0; i < r.count; ++i) r.registers.push_back(Word(pdu + 6 + 2 * i));
                return r;
            }
            r.table = Table::Coils;
            if (bytes != (r.count + 7) / 8) return Refused(r, IllegalValue);
            r = Ranged(r, MODBUS_MAX_WRITE_BITS);
            if (r.kind != Request::Write) return r;
            // In range, so at most 32 bits: the first in the low bit of the first byte.
            for (int i = 0; i < r.count; ++i)
                if (pdu[6 + i / 8] >> (i % 8) & 1) r.coils |= 1u << i;
            return r;
        }
        default: return Refused(r, IllegalFunction);
    }
}

// The outputs' mask and values of a write, in outputs' bit positions.
struct OutputsWrite {
    uint32_t mask = 0, values = 0;
};

uint32_t Span(int first, int count) {
    return (count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1) << first;
}

}  // namespace

Request Interpret(const uint8_t* frame, int length, int header, bool tcp) {
    Request r;
    const int checksum = tcp ? 0 : 2;
    const int size = length - header - checksum;  // of the PDU
    if (header < 1 || size < 1) return r;
    r.unit = frame[header - 1];
    r.function = frame[header];
    r.broadcast = !tcp && r.unit == Broadcast;
    if (tcp) {
        // MBAP: protocol 0, and a length that counts the unit and the PDU.
        const bool inStep = Word(frame + 4) == size + 1;
        if (Word(frame + 2) != 0) return r;
        if (!inStep) {
            // libmodbus reads what it knows a function to carry; of a function it
            // does not know, the rest stays in the stream.
            r = Fields(r, frame + header, size);
            if (r.kind != Request::Refused || r.exception != IllegalFunction) return Request{};
            r.closeAfter = true;
            return r;
        }
    }
    return Fields(r, frame + header, size);
}

namespace {

Answer Refuse(Exception e, std::string why = {}) {
    Answer a;
    a.kind = Answer::Refuse;
    a.exception = e;
    a.refusal = std::move(why);
    return a;
}

// The commands of a write, or why it is refused.
Answer PlanWrite(const Request& r, const Image::Writable& state) {
    if (!state.online) return Refuse(TargetFailed);
    OutputsWrite outputs;
    uint16_t counters = 0;
    bool status = false;
    if (r.table == Table::Coils) {
        outputs = {Span(r.address, r.count), r.coils << r.address};
    } else {
        for (int i = 0; i < r.count; ++i) {
            const uint16_t value = r.registers[static_cast<size_t>(i)];
            switch (r.address + i) {
                case OutputsHigh: outputs.mask |= 0xFFFF0000u, outputs.values |= uint32_t{value} << 16; break;
                case OutputsLow: outputs.mask |= 0x0000FFFFu, outputs.values |= value; break;
                case ResetCountersRegister:
                    if (value > AllCounters) return Refuse(IllegalValue);
                    counters = value;
                    break;
                case ResetStatusRegister:
                    if (value > 1) return Refuse(IllegalValue);
                    status = value == 1;
                    break;
            }
        }
    }
    const Commands& enabled = state.enabled;
    if ((outputs.mask && !enabled.setOutputs) || (counters && !enabled.resetCounters) || (status && !enabled.resetStatus))
        return Refuse(IllegalFunction, "the write is not enabled for this module (key \"commands\" of its section)");
    if (outputs.mask && outputs.mask != AllOutputs && !state.outputs)
        return Refuse(DeviceFailure, OutputsUnknown);
    Answer a;
    a.kind = Answer::Write;
    if (outputs.mask) a.commands.push_back({Command::SetOutputs, outputs.values, -1, outputs.mask});
    if (counters == AllCounters) a.commands.push_back({Command::ResetCounters});
    else
        for (int n = 0; n < wire::CounterCount; ++n)
            if (counters >> n & 1) a.commands.push_back({Command::ResetCounters, 0, n});
    if (status) a.commands.push_back({Command::ResetStatus});
    // Nothing to do (0 written to a reset register): answered at once.
    if (a.commands.empty()) a.kind = Answer::Reply;
    return a;
}

}  // namespace

Answer Decide(const Request& r, const Units& units, const Image& image, Clock::time_point now, Snapshot& snapshot) {
    Answer a;
    if (r.kind == Request::Malformed) {
        a.kind = Answer::Close;
        return a;
    }
    // A broadcast has no answer, so a write by one could not be confirmed: ignored.
    if (r.broadcast) return a;
    const int place = units[r.unit];
    if (place < 0) a = Refuse(PathUnavailable);
    else if (r.kind == Request::Refused) a = Refuse(r.exception);
    else if (r.kind == Request::Read) {
        const Exception e = image.Read(static_cast<size_t>(place), r.table, r.address, r.count, now, snapshot);
        if (e != NoException) a = Refuse(e);
        else a.kind = Answer::Reply;
    } else {
        a = PlanWrite(r, image.WriteState(static_cast<size_t>(place)));
    }
    a.place = place < 0 ? 0 : static_cast<size_t>(place);
    a.closeAfter = r.closeAfter;
    return a;
}

}  // namespace kvbridge::modbus
