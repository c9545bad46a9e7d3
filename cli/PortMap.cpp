#include "PortMap.h"

#include "AtomicFile.h"
#include "Dekl.h"
#include "Format.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace cli::ports {

namespace fs = std::filesystem;

namespace {

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return Trimmed(text);
}

// The USB device above a tty's interface: the first folder upwards with an idVendor.
std::string UsbDescription(const std::string& tty) {
    std::error_code error;
    fs::path folder = fs::canonical("/sys/class/tty/" + tty + "/device", error);
    if (error) return {};
    for (; folder.has_relative_path(); folder = folder.parent_path()) {
        if (!fs::exists(folder / "idVendor", error)) continue;
        std::string text = ReadAttribute(folder / "manufacturer");
        const std::string product = ReadAttribute(folder / "product");
        if (!product.empty()) text += (text.empty() ? "" : " ") + product;
        if (const std::string serial = ReadAttribute(folder / "serial"); !serial.empty()) text += ", s/n " + serial;
        return text + " (" + ReadAttribute(folder / "idVendor") + ":" + ReadAttribute(folder / "idProduct") + ")";
    }
    return {};
}

// A ttyS device exists for every possible legacy port; only those whose
// UART was found have a type other than 0.
bool HasPort(const std::string& tty) {
    if (tty.rfind("ttyS", 0) != 0) return true;
    const std::string type = ReadAttribute("/sys/class/tty/" + tty + "/type");
    return !type.empty() && type != "0";
}

bool IsKey(const std::string& line, const std::string& key) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) return false;
    std::string name = Trimmed(line.substr(0, equals));
    if (name.size() != key.size()) return false;
    return std::equal(name.begin(), name.end(), key.begin(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

// The text of the file with the key's line replaced, or added at the end.
std::string WithMapping(const std::string& text, const std::string& key, const std::string& device) {
    std::istringstream lines(text);
    std::string line, result;
    bool replaced = false;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trimmed(line);
        const bool comment = trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#' || trimmed[0] == '[';
        if (!comment && IsKey(trimmed, key)) {
            if (replaced) continue;  // the library takes the first; later ones would only mislead
            line = key + "=" + device;
            replaced = true;
        }
        result += line + "\n";
    }
    if (!replaced) result += key + "=" + device + "\n";
    return result;
}

// What a mapping file gives COM n, read as the library reads it; empty for nothing.
std::string MappedIn(const std::string& file, int port) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#' || trimmed[0] == '[') continue;
        if (IsKey(trimmed, "COM" + std::to_string(port))) return Trimmed(trimmed.substr(trimmed.find('=') + 1));
    }
    return {};
}

const char* Variable(int port) {
    const char* value = std::getenv(("QCOM726_COM" + std::to_string(port)).c_str());
    return value && *value ? value : nullptr;
}

}  // namespace

std::vector<Device> SerialDevices() {
    std::vector<Device> devices;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", error)) {
        const std::string name = entry.path().filename().string();
        const bool serial = name.rfind("ttyS", 0) == 0 || name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
        std::error_code missing;
        if (!serial || !HasPort(name) || !fs::exists("/dev/" + name, missing)) continue;
        devices.push_back({"/dev/" + name, UsbDescription(name)});
    }
    // ttyS2 before ttyS10: by kind, then by number.
    const auto number = [](const std::string& path) {
        const auto digits = path.find_first_of("0123456789");
        return std::make_pair(path.substr(0, digits), std::atoi(path.c_str() + std::min(digits, path.size())));
    };
    std::sort(devices.begin(), devices.end(), [&](const Device& a, const Device& b) { return number(a.path) < number(b.path); });
    return devices;
}

std::string UserMapFile() {
    const std::string folder = SlozkaNastaveniUzivatele();
    return folder.empty() ? std::string() : folder + "/QCOM726.ini";
}

std::string LibraryMapFile() { return SlozkaProgramu() + "/QCOM726.ini"; }

std::vector<std::string> MapFiles() {
    std::vector<std::string> files;
    if (const std::string user = UserMapFile(); !user.empty()) files.push_back(user);
    files.push_back(LibraryMapFile());
    return files;
}

std::string DeviceOf(int port) {
    if (const char* mapped = Variable(port)) return mapped;
    for (const std::string& file : MapFiles())
        if (std::string device = MappedIn(file, port); !device.empty()) return device;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string SourceOf(int port) {
    if (Variable(port)) return "proměnné QCOM726_COM" + std::to_string(port);
    for (const std::string& file : MapFiles())
        if (!MappedIn(file, port).empty()) return file;
    return {};
}

std::string Map(int port, const std::string& device, std::string& file) {
    const std::string user = UserMapFile();
    const bool libraryWritable = ::access(SlozkaProgramu().c_str(), W_OK) == 0;
    file = (!user.empty() && (!MappedIn(user, port).empty() || !libraryWritable)) ? user : LibraryMapFile();
    if (file == user)
        if (std::string problem = MakeFolders(user.substr(0, user.rfind('/'))); !problem.empty()) return problem;
    std::string text;
    ReadWholeFile(file, text);  // a missing file is an empty one
    return ReplaceFile(file, WithMapping(text, "COM" + std::to_string(port), device));
}

}  // namespace cli::ports
