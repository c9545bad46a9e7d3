// kv618emu: a KV-618 module with its KV-619 counter extension, served over
// UDP, a pseudo-terminal and the card sockets.
#include <iostream>
#include <unistd.h>

#include "Bus.h"
#include "Messages.h"
#include "Options.h"
#include "Server.h"

int main(int argc, char** argv) {
    i18n::Start();
    const std::vector<std::string> args(argv + 1, argv + argc);
    auto parsed = emu::ParseOptions(args);
    if (const auto* error = std::get_if<emu::OptionsError>(&parsed)) {
        std::cerr << "kv618emu: " << error->why << '\n' << emu::Usage();
        return 2;
    }
    const emu::Options options = std::get<emu::Options>(parsed);
    if (options.help) {
        std::cout << emu::Usage();
        return 0;
    }

    emu::SystemClock clock;
    emu::Bus bus(clock, options.modules);
    emu::Server server(bus, clock, options);
    std::string why;
    if (!server.Open(why)) {
        std::cerr << "kv618emu: " << why << '\n';
        return 1;
    }
    server.PowerUp();
    for (const std::string& command : options.commands) {
        const std::string reply = bus.OnControl(command);
        // The control protocol's reply is the protocol's own, in English.
        if (reply.rfind("error", 0) == 0) std::cerr << "kv618emu: --do \"" << command << "\": " << reply << '\n';
    }
    const std::string ready = server.ReadyLine() + "\n";
    if (::write(STDOUT_FILENO, ready.data(), ready.size()) < 0) {
        // Nobody listens on stdout; serving goes on all the same.
    }
    server.Run();
    return 0;
}
