#include "LineFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

Failure LineFile::Create(const std::string& path) {
    Close();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return {Failure::NotRegular, 0, path};
    // O_NONBLOCK: a FIFO put there meanwhile would hold the opening until a reader came.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return {errno == EACCES || errno == EROFS ? Failure::ReadOnly : Failure::CannotCreate, errno, path};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {Failure::NotRegular, 0, path};
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        const int error = errno;
        ::close(fd);
        return {Failure::CannotWrite, error, path};
    }
    fd_ = fd;
    size_ = 0;
    path_ = path;
    return {};
}

Failure LineFile::Append(std::string_view line) {
    if (fd_ < 0) return {Failure::CannotWrite, EBADF, path_};
    std::string whole(line);
    whole += '\n';
    if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0 || !WriteAll(fd_, whole)) {
        const int error = errno;
        // What went in of this line goes again: the file ends with its last whole line.
        if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {}
        return {Failure::CannotWrite, error, path_};
    }
    size_ += whole.size();
    return {};
}

Failure LineFile::Close() {
    if (fd_ < 0) return {};
    Failure failure;
    if (::fsync(fd_) != 0 && errno != EINVAL) failure = {Failure::CannotWrite, errno, path_};
    if (::close(fd_) != 0 && !failure.failed()) failure = {Failure::CannotWrite, errno, path_};
    fd_ = -1;
    return failure;
}

}  // namespace files
