// ports: the serial devices present and the COM numbers they are reached
// by; ports map: a COM number for a device.
#include "Format.h"
#include "Messages.h"
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

using i18n::Fill;

int List(bool json) {
    // Each COM number's device, by the device it finally names.
    std::map<std::string, std::vector<int>> portsOf;
    for (int port = 1; port <= ports::HighestPort; ++port) portsOf[Resolved(ports::DeviceOf(port))].push_back(port);
    const auto comText = [&](const std::string& device) {
        std::string text;
        for (const int port : portsOf[Resolved(device)]) text += (text.empty() ? "COM" : ",COM") + std::to_string(port);
        return text.empty() ? std::string("-") : text;
    };
    const auto comNumbers = [&](const std::string& device) {
        nlohmann::ordered_json numbers = nlohmann::ordered_json::array();
        for (const int port : portsOf[Resolved(device)]) numbers.push_back(port);
        return numbers;
    };
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const ports::Device& device : ports::SerialDevices()) {
        if (json)
            entries.push_back({{"device", device.path},
                              {"com", comNumbers(device.path)},
                              {"description", device.description},
                              {"present", true},
                              {"mapped_by", nullptr}});
        else PrintLine(Trimmed(Padded(device.path, 16) + Padded(comText(device.path), 10) + device.description));
    }
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
        if (json)
            entries.push_back({{"device", device},
                              {"com", {port}},
                              {"description", ""},
                              {"present", present},
                              {"mapped_by", source}});
        else
            PrintLine(Padded(device, 16) + Padded("COM" + std::to_string(port), 10) + (present ? "" : _("(missing) ")) +
                      Fill(_("mapped by %s"), source));
    }
    return json ? PrintJson({{"ports", entries}}) : Done;
}

int MapPort(const std::string& number, const std::string& device) {
    uint64_t port = 0;
    if (!ParseUnsigned(number, ports::HighestPort, port) || port == 0)
        return Refuse(_("The port number must be within 1-255"));
    if (device.empty() || device.find('\n') != std::string::npos) return Refuse(_("The device must be a path, e.g. /dev/ttyUSB0"));
    if (!Present(device)) Say(Fill(_("Device %s does not exist yet; the mapping is written all the same."), device));
    const auto mapped = ports::Map(static_cast<int>(port), device);
    if (!mapped.ok()) return Fail(mapped.message());
    const std::string& file = mapped.value();
    Confirm(Fill(_("COM%s=%s written to %s"), port, device, file));
    if (ports::SourceOf(static_cast<int>(port)) != file)
        Say(Fill(_("%s takes precedence: COM%s is now %s"), ports::SourceOf(static_cast<int>(port)), port,
                 ports::DeviceOf(static_cast<int>(port))));
    return Done;
}

}  // namespace

void AddPorts(Tool& tool) {
    CLI::App* ports =
        tool.app.add_subcommand("ports", _("The serial devices and the COM numbers the library finds them by"));
    ports->group(_("Commands"));
    ports->require_subcommand(0, 1);
    tool.AddJson(ports);
    CLI::App* map = ports->add_subcommand("map", _("Maps a COM number to a device (in QCOM726.ini)"));
    auto number = std::make_shared<std::string>();
    auto device = std::make_shared<std::string>();
    map->add_option("N", *number, _("COM port number 1-255"))->required();
    map->add_option("DEVICE", *device, _("Device, e.g. /dev/ttyUSB0 or /dev/serial/by-id/..."))->required();
    map->group(_("Commands"));
    // The parent's callback runs after its subcommand's: it decides for both.
    ports->callback([&tool, map, number, device] {
        if (map->parsed()) tool.action = [number, device] { return MapPort(*number, *device); };
        else tool.action = [&tool] { return List(tool.json); };
    });
}

}  // namespace cli
