// The Modbus face's request path on arbitrary bytes, as a client sends them:
// libmodbus frames them from a socket (Modbus TCP, or RTU through the serial
// port's framing for every unit of its section), the face reads the fields
// and decides, and libmodbus answers from the face's values.  The first byte
// chooses TCP or RTU; the rest is the stream, which may hold several frames.
#include "Image.h"
#include "Request.h"
#include "SerialPort.h"

#include <modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace {

using namespace kvbridge::modbus;

// Three units: 1 answering with every command enabled and its outputs known,
// 2 answering with nothing enabled, 3 silent.
struct Plant {
    Plant() : image(3, {{0, Millis(1000), Millis(1000), Millis(1000), {true, true, true}},
                        {1, Millis(1000), Millis(0), Millis(1000), {}},
                        {2, Millis(1000), Millis(1000), Millis(1000), {}}}) {
        units.fill(-1);
        units[1] = 0, units[2] = 1, units[3] = 2;
        for (size_t m : {0u, 1u}) {
            image.Online(m, {});
            image.Inputs(m, 0xA5A5A5A5u);
            image.Status(m, 0x50);
            image.Counters(m, {});
        }
        image.OutputsWritten(0, 0x0F0F0F0Fu);
        mapping.nb_bits = static_cast<int>(snapshot.coils.size());
        mapping.nb_input_bits = static_cast<int>(snapshot.discreteInputs.size());
        mapping.nb_input_registers = static_cast<int>(snapshot.inputRegisters.size());
        mapping.nb_registers = static_cast<int>(snapshot.holdingRegisters.size());
        mapping.tab_bits = snapshot.coils.data();
        mapping.tab_input_bits = snapshot.discreteInputs.data();
        mapping.tab_input_registers = snapshot.inputRegisters.data();
        mapping.tab_registers = snapshot.holdingRegisters.data();
    }
    Image image;
    Units units;
    Snapshot snapshot;
    modbus_mapping_t mapping{};
};

// What the face decided may never be: a reply outside the map, a write with
// nothing in it or of a counter that does not exist.
void Check(const Request& r, const Answer& a) {
    if (a.kind == Answer::Reply && r.kind == Request::Read && r.address + r.count > TableSize(r.table)) std::abort();
    if (a.kind != Answer::Write) return;
    if (r.kind != Request::Write || a.commands.empty()) std::abort();
    for (const auto& c : a.commands) {
        if (c.kind == kvbridge::Command::SetOutputs && c.mask == 0) std::abort();
        if (c.kind == kvbridge::Command::ResetCounters && (c.counter < -1 || c.counter > 3)) std::abort();
    }
}

void Serve(Plant& plant, modbus_t* ctx, const uint8_t* frame, int length, bool tcp) {
    const Request r = Interpret(frame, length, ::modbus_get_header_length(ctx), tcp);
    const Answer a = Decide(r, plant.units, plant.image, Clock::now(), plant.snapshot);
    Check(r, a);
    if (a.kind == Answer::Reply || (a.kind == Answer::Write && r.kind == Request::Write))
        ::modbus_reply(ctx, frame, length, &plant.mapping);
    else if (a.kind == Answer::Refuse)
        ::modbus_reply_exception(ctx, frame, a.exception);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Plant plant;
    if (size == 0 || size > 4096) return 0;
    const bool tcp = data[0] & 1;
    // The stream, then its end: libmodbus never waits for more.
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
    [[maybe_unused]] const ssize_t n = ::write(pair[0], data + 1, size - 1);
    ::shutdown(pair[0], SHUT_WR);
    uint8_t frame[MODBUS_TCP_MAX_ADU_LENGTH];
    if (tcp) {
        modbus_t* ctx = ::modbus_new_tcp("127.0.0.1", 1502);
        ::modbus_set_socket(ctx, pair[1]);
        for (int length; (length = ::modbus_receive(ctx, frame)) > 0;) Serve(plant, ctx, frame, length, true);
        ::modbus_free(ctx);
    } else {
        SerialPort port({"/dev/null", 19200, 'N', 8, 1, 0}, plant.units);
        if (port.Adopt(pair[1]).empty())
            for (int length; (length = port.Receive(frame)) >= 0;) {
                if (length > 0) Serve(plant, port.Context(), frame, length, false);
                char probe;
                if (::recv(pair[1], &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) break;
            }
    }
    ::close(pair[0]);
    ::close(pair[1]);
    return 0;
}
