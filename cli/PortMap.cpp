#include "PortMap.h"

#include "Dekl.h"
#include "Files.h"
#include "Format.h"
#include "Ini.h"
#include "Messages.h"
#include "Places.h"
#include "PortDevice.h"

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

// The text of the file with the key's line replaced, or added at the end.
std::string WithMapping(const std::string& text, const std::string& key, const std::string& device) {
    std::string result;
    bool replaced = false;
    for (const std::string_view line : files::SplitLines(text)) {
        const files::IniLine l = files::ParseIniLine(line);
        if (l.kind == files::IniLine::Entry && files::SameName(l.key, key)) {
            if (replaced) continue;  // the library takes the first; later ones would only mislead
            result += key + "=" + device + "\n";
            replaced = true;
            continue;
        }
        result += std::string(line) + "\n";
    }
    if (!replaced) result += key + "=" + device + "\n";
    return result;
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
    const std::string folder = files::UserSettingsFolder();
    return folder.empty() ? std::string() : folder + "/QCOM726.ini";
}

std::string LibraryMapFile() { return SlozkaProgramu() + "/QCOM726.ini"; }

std::vector<std::string> MapFiles() {
    std::vector<std::string> files;
    if (const std::string user = UserMapFile(); !user.empty()) files.push_back(user);
    files.push_back(LibraryMapFile());
    return files;
}

std::string DeviceOf(int port) { return files::DeviceOfPort(port, MapFiles()).device; }

std::string SourceOf(int port) {
    const files::PortDevice device = files::DeviceOfPort(port, MapFiles());
    switch (device.source) {
        case files::PortDevice::Variable: return i18n::Fill(_("variable %s"), files::PortVariable(port));
        case files::PortDevice::File: return device.file;
        case files::PortDevice::Default: break;
    }
    return {};
}

kv618::Outcome<std::string> Map(int port, const std::string& device) {
    const std::string user = UserMapFile();
    const bool libraryWritable = ::access(SlozkaProgramu().c_str(), W_OK) == 0;
    const bool userMapsIt = !user.empty() && files::DeviceOfPort(port, {user}).source == files::PortDevice::File;
    const std::string file = (!user.empty() && (userMapsIt || !libraryWritable)) ? user : LibraryMapFile();
    if (file == user)
        if (const auto f = files::MakeFolders(files::FolderOf(user)); f.failed()) return kv618::Failed{FileProblem(f)};
    std::string text;
    // A missing file is an empty one; one that cannot be read whole is not replaced.
    if (const auto f = files::Read(file, text); f.failed() && f.kind != files::Failure::Missing)
        return kv618::Failed{FileProblem(f)};
    if (const auto f = files::Replace(file, WithMapping(text, files::PortKey(port), device)); f.failed())
        return kv618::Failed{FileProblem(f)};
    return file;
}

}  // namespace cli::ports
