#include "CardFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace wire {

std::string DefaultCardFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/kv618";
    return "/tmp/kv618-" + std::to_string(::geteuid());
}

std::string UntrustedFolderReason(const std::string& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return folder + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return folder + ": not a folder";
    if (st.st_uid != ::geteuid()) return folder + ": belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return folder + ": other users may write to it";
    return {};
}

bool PreparePrivateFolder(const std::string& folder, std::string& why) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = folder + ": " + std::strerror(errno);
        return false;
    }
    why = UntrustedFolderReason(folder);
    return why.empty();
}

}  // namespace wire
