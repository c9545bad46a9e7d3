#include "AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

// Far more than any file kv618 reads; a device or a wrong file is not read whole.
constexpr size_t MaxFileSize = 1 << 20;

std::string Folder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Problem(const std::string& what, const std::string& path) {
    return what + " " + path + " (" + std::strerror(errno) + ")";
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string ReplaceFile(const std::string& path, std::string_view text, unsigned mode) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) return "Soubor " + path + " není obyčejný soubor; nic se nezapsalo";
        mode = existing.st_mode & 07777;
    }
    std::string temporary = Folder(path) + "/.kv618-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return Problem("Nelze zapsat soubor", path);
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) ok = false, error = errno;
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false, error = errno;
    if (ok) return {};
    ::unlink(temporary.c_str());
    errno = error;
    return Problem("Nelze zapsat soubor", path);
}

std::string ReadWholeFile(const std::string& path, std::string& text) {
    FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file) return Problem("Nelze číst soubor", path);
    text.clear();
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() <= MaxFileSize) text.append(buffer, n);
    const bool failed = std::ferror(file);
    if (file != stdin) std::fclose(file);
    if (failed) return Problem("Nelze číst soubor", path);
    if (text.size() > MaxFileSize) return "Soubor " + path + " je příliš velký (nad 1 MiB)";
    return {};
}

std::string MakeFolders(const std::string& folder) {
    for (size_t end = 0; end != std::string::npos;) {
        end = folder.find('/', end + 1);
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Problem("Nelze vytvořit složku", part);
    }
    return {};
}

}  // namespace cli
