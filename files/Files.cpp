#include "Files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// The file a path names once symbolic links are followed; a dangling link
// names the file it would point at, which the write then creates.
std::string Target(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit on a loop of links
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n <= 0) return current;
        link.resize(static_cast<size_t>(n));
        current = link[0] == '/' ? link : FolderOf(current) + "/" + link;
    }
    return current;
}

std::string RandomSuffix() {
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string suffix = ".tmp-";
    for (int i = 0; i < 8; ++i) suffix += Letters[random() % (sizeof Letters - 1)];
    return suffix;
}

// Opens the temporary file beside `target`.  Where the file system can, it
// has no name yet (`name` stays empty); else `name` is its name.
int OpenTemporary(const std::string& target, unsigned mode, std::string& name) {
    static const bool anonymous = ::access("/proc/self/fd", X_OK) == 0;  // linkat needs it to give a name
    if (anonymous) {
        const int fd = ::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 0777);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + RandomSuffix();
        const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, mode & 0777);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) name.clear();
            return fd;
        }
    }
    name.clear();
    return -1;
}

// Gives an anonymous temporary file a name beside `target`.
bool NameTemporary(int fd, const std::string& target, std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + RandomSuffix();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) break;
    }
    name.clear();
    return false;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

Failure MakeFolders(const std::string& folder, unsigned mode) {
    for (size_t end = 0; end != std::string::npos;) {
        end = folder.find('/', end + 1);
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return {Failure::CannotMakeFolder, errno, part};
    }
    return {};
}

Failure Replace(const std::string& path, std::string_view bytes, unsigned mode) {
    const std::string target = Target(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return {Failure::NotRegular, 0, path};
    // The rename would replace a read-only file regardless of its mode.
    if (exists && (old.st_mode & 0222) == 0) return {Failure::ReadOnly, 0, path};
    if (exists && ::access(target.c_str(), W_OK) != 0) return {Failure::ReadOnly, errno, path};

    std::string temporary;
    int fd = OpenTemporary(target, mode, temporary);
    if (fd < 0) return {Failure::CannotCreate, errno, path};
    const auto fail = [&](Failure::Kind kind) {
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (!temporary.empty()) ::unlink(temporary.c_str());
        return Failure{kind, error, path};
    };
    if (exists && ::fchmod(fd, old.st_mode & 07777) != 0) return fail(Failure::CannotWrite);
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0) return fail(Failure::CannotWrite);
    if (temporary.empty() && !NameTemporary(fd, target, temporary)) return fail(Failure::CannotCreate);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return fail(Failure::CannotWrite);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(Failure::CannotReplace);
    SyncFolder(FolderOf(target));
    return {};
}

Failure Read(const std::string& path, std::string& bytes, Kinds kinds, size_t cap) {
    bytes.clear();
    const bool standardInput = kinds == Kinds::Any && path == "-";
    // Without O_NONBLOCK a FIFO would hold the reader until someone writes to it.
    const int fd = standardInput ? STDIN_FILENO
                                 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (kinds == Kinds::RegularOnly ? O_NONBLOCK : 0));
    if (fd < 0) return {errno == ENOENT ? Failure::Missing : Failure::CannotRead, errno, path};
    const auto finish = [&](Failure failure) {
        if (!standardInput) ::close(fd);
        if (failure.failed()) bytes.clear();
        return failure;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return finish({Failure::CannotRead, errno, path});
    if (S_ISDIR(st.st_mode) || (kinds == Kinds::RegularOnly && !S_ISREG(st.st_mode)))
        return finish({Failure::NotRegular, 0, path});
    char block[16384];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return finish({Failure::CannotRead, errno, path});
        if (n == 0) break;
        bytes.append(block, static_cast<size_t>(n));
        if (bytes.size() > cap) return finish({Failure::TooLarge, 0, path});
    }
    return finish({});
}

}  // namespace files
