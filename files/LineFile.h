// A log written a line at a time, for as long as it runs: each line goes in
// whole or not at all.  A write that fails half way (a full disk, a file
// system gone) is cut back to the end of the last whole line, so the file
// never ends in part of one, and the failure is told with its reason.
#pragma once

#include "Files.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace files {

class LineFile {
public:
    LineFile() = default;
    ~LineFile() { Close(); }
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Creates the file, or empties one that is there (a regular file only:
    // a FIFO, a device or a folder is refused without waiting on it); a new
    // file gets 0666 less the umask.
    Failure Create(const std::string& path);
    // `line` and its end of line.  On a failure the file is as it was
    // before, and stays open for the next line.
    Failure Append(std::string_view line);
    // Flushes what was written to the disk and closes the file.
    Failure Close();

    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    std::string path_;
};

}  // namespace files
