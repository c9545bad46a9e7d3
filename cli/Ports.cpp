// ports: the serial devices present and the COM numbers they are reached
// by; ports map: a COM number for a device.
#include "Format.h"
#include "PortMap.h"
#include "Tool.h"

#include <filesystem>
#include <map>

namespace cli {

namespace {

// Whether the path names something; a folder we may not look into counts as no.
bool Present(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string Resolved(const std::string& path) {
    std::error_code error;
    const auto real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}

int List() {
    // Each COM number's device, by the device it finally names.
    std::map<std::string, std::vector<int>> portsOf;
    for (int port = 1; port <= ports::HighestPort; ++port) portsOf[Resolved(ports::DeviceOf(port))].push_back(port);
    const auto comText = [&](const std::string& device) {
        std::string text;
        for (const int port : portsOf[Resolved(device)]) text += (text.empty() ? "COM" : ",COM") + std::to_string(port);
        return text.empty() ? std::string("-") : text;
    };
    for (const ports::Device& device : ports::SerialDevices())
        PrintLine(Trimmed(Padded(device.path, 16) + Padded(comText(device.path), 10) + device.description));
    // Mappings to what is not a serial device of the machine (a pseudo-terminal,
    // a link, an adapter not plugged in).
    for (int port = 1; port <= ports::HighestPort; ++port) {
        const std::string source = ports::SourceOf(port);
        if (source.empty()) continue;
        const std::string device = ports::DeviceOf(port);
        bool listed = false;
        for (const ports::Device& d : ports::SerialDevices()) listed = listed || Resolved(d.path) == Resolved(device);
        if (listed) continue;
        const bool present = Present(device);
        PrintLine(Padded(device, 16) + Padded("COM" + std::to_string(port), 10) +
                  (present ? "" : "(neexistuje) ") + "přiřazení z " + source);
    }
    return Done;
}

int MapPort(const std::string& number, const std::string& device) {
    uint64_t port = 0;
    if (!ParseUnsigned(number, ports::HighestPort, port) || port == 0)
        return Refuse("Číslo portu musí být v rozsahu 1-255");
    if (device.empty() || device.find('\n') != std::string::npos) return Refuse("Zařízení musí být cesta, např. /dev/ttyUSB0");
    if (!Present(device)) Say("Zařízení " + device + " zatím neexistuje; přiřazení se přesto zapíše.");
    const auto mapped = ports::Map(static_cast<int>(port), device);
    if (!mapped.ok()) return Fail(mapped.message());
    const std::string& file = mapped.value();
    PrintLine("COM" + std::to_string(port) + "=" + device + " zapsáno do " + file);
    if (ports::SourceOf(static_cast<int>(port)) != file)
        Say("Přednost má " + ports::SourceOf(static_cast<int>(port)) + ": COM" + std::to_string(port) + " je nyní " +
            ports::DeviceOf(static_cast<int>(port)));
    return Done;
}

}  // namespace

void AddPorts(Tool& tool) {
    CLI::App* ports = tool.app.add_subcommand("ports", "Sériová zařízení a čísla COM, pod kterými je knihovna najde");
    ports->group("Příkazy");
    ports->require_subcommand(0, 1);
    CLI::App* map = ports->add_subcommand("map", "Přiřadí číslu COM zařízení (v QCOM726.ini)");
    auto number = std::make_shared<std::string>();
    auto device = std::make_shared<std::string>();
    map->add_option("N", *number, "Číslo portu COM 1-255")->required();
    map->add_option("DEVICE", *device, "Zařízení, např. /dev/ttyUSB0 nebo /dev/serial/by-id/...")->required();
    map->group("Příkazy");
    // The parent's callback runs after its subcommand's: it decides for both.
    ports->callback([&tool, map, number, device] {
        if (map->parsed()) tool.action = [number, device] { return MapPort(*number, *device); };
        else tool.action = [] { return List(); };
    });
}

}  // namespace cli
