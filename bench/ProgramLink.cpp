#include "ProgramLink.h"

#include "LinkWorker.h"
#include "ModuleWindow.h"
#include "StatusBar.h"

#include "Commands.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

namespace {
constexpr uint8_t ModuleAddress = 1;
}  // namespace

Connection::Connection() { InicializujData(&data_); }

Connection::~Connection() { close(); }

int32_t Connection::openUdp(uint16_t port, int32_t timeoutMs) {
    close();
    data_.Rozhrani = RozhraniKV1726;
    data_.InitParametry.fill(0);
    data_.InitParametry[0] = reinterpret_cast<intptr_t>(ip_.c_str());
    data_.InitParametry[1] = port;
    data_.InitParametry[2] = timeoutMs;
    return finishOpen(9600);
}

bool Connection::openUdpForParent(uint16_t port) {
    const int32_t code = openUdp(port);
    if (code != 0) std::printf("ERROR %s\n", TextKodu(RozhraniKV1726, code).c_str());
    return code == 0;
}

int32_t Connection::openSerial(const std::string& device, int32_t rate) {
    close();
    setenv("QCOM726_COM1", device.c_str(), 1);
    data_.Rozhrani = RozhraniCOM;
    data_.InitParametry.fill(0);
    data_.InitParametry[0] = 1;
    return finishOpen(rate);
}

int32_t Connection::finishOpen(int32_t rate) {
    // The program's link, on the connection worker, as the dialog opens it;
    // PrenosDat below reaches it through the same binding.
    const auto [code, handle] = LinkWorker::Program().Run([this, rate](kv618::Connection& link) {
        const int32_t code = link.Open(data_.Rozhrani, data_.InitParametry, rate, SlozkaKnihoven());
        if (code != 0) link.Unload();
        return std::pair{code, link.Handle()};
    });
    if (code != 0) return code;
    data_.Handle = handle;
    data_.Pripojeno = 1;
    data_.Adresa = ModuleAddress;
    data_.Rychlost = rate;
    return 0;
}

void Connection::close() {
    if (data_.Handle == 0) return;
    LinkWorker::Program().Run([](kv618::Connection& link) { return link.Unload(); });
    data_.Handle = 0;
    data_.Pripojeno = 0;
}

uint8_t Connection::exchange(uint8_t function, uint8_t subcode, std::array<uint8_t, 5>& d) {
    uint8_t error = 0;
    PrenosDat(data_.Rozhrani, data_.Handle, data_.Adresa, function, subcode, d[0], d[1], d[2], d[3], d[4], error,
              reply_);
    return error;
}

uint8_t Connection::readInputs() {
    std::array<uint8_t, 5> d{};
    return exchange(wire::function::Read, wire::subcode::Inputs, d);
}

uint8_t Connection::writeRegister(uint8_t reg, uint8_t value) {
    std::array<uint8_t, 5> d{0, reg, reg, value, value};
    return exchange(wire::function::WriteRegister, 0, d);
}

uint8_t Connection::readRegister(uint8_t reg, uint8_t& value) {
    std::array<uint8_t, 5> d{0, reg, reg, 0, 0};
    const uint8_t error = exchange(wire::function::ReadRegister, 0, d);
    value = d[3];
    return error;
}

WindowChild::WindowChild(int& argc, char** argv)
    : seconds(std::stoi(argv[3])),
      app(argc, argv),
      linked(link.openUdpForParent(static_cast<uint16_t>(std::stoi(argv[2])))) {}

void WindowChild::Show(ModuleWindow& window) {
    window.PData = &link.data();
    window.show();
}

void WindowChild::Run() {
    QTimer::singleShot(seconds * 1000 + 50, &app, &QCoreApplication::quit);
    app.exec();
}

int WindowChild::Finish(const TStatusBar& bar) {
    std::printf("STATUS %s\n", bar.Text(0).toStdString().c_str());
    std::printf("END\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace bench
