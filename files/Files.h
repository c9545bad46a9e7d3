// Whole files in and out.
//
// Replace() is the one way this code base rewrites a file:
// - the new bytes go to a file of their own in the target's folder, are
//   flushed to the disk and renamed over the target, and the folder is
//   flushed too, so a reader or a power cut sees the old file or the new one,
//   never half of either;
// - a symbolic link is written through: the file it points at gets the new
//   bytes and the link stays (as the program's settings file always did);
// - a new file gets `mode` less the process's umask (0666 & ~umask by
//   default, as any program creating a file); an existing one keeps its mode;
// - a read-only file, and anything that is not a regular file (a folder, a
//   FIFO, a device), is left alone and reported;
// - the temporary file has no name while it is written (O_TMPFILE where the
//   file system has it), and is removed on every failure, so neither a
//   failure nor a kill in the middle leaves one behind (a kill can leave one
//   only in the instant between naming it and the rename).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace files {

// The most any reader here takes: far more than any of our files, so a
// device or a wrong file is refused instead of read without end.
constexpr size_t ReadCap = 1 << 20;

// Why an operation failed.  `error` is the errno behind it, 0 where none.
// i18n/FileTexts puts a failure into words.
struct Failure {
    enum Kind {
        None,
        Missing,        // the file does not exist (reading)
        CannotRead,
        NotRegular,     // a folder, FIFO or device where a file belongs
        TooLarge,       // over the reader's cap
        ReadOnly,       // the file may not be written
        CannotCreate,   // the temporary file
        CannotWrite,
        CannotReplace,  // the rename
        CannotMakeFolder,
    } kind = None;
    int error = 0;
    std::string path;  // the file or folder concerned

    bool failed() const { return kind != None; }
};

// Writes all of `bytes`, retrying after signals; false with errno set.
bool WriteAll(int fd, std::string_view bytes);

// Creates the folder and its missing parents with `mode` (less the umask).
Failure MakeFolders(const std::string& folder, unsigned mode = 0700);

// See above.  `mode` is for a new file only.
Failure Replace(const std::string& path, std::string_view bytes, unsigned mode = 0666);

enum class Kinds {
    RegularOnly,  // a FIFO or a device is refused without waiting on it
    Any,          // "-" (standard input), pipes and devices too, within the cap
};
// The whole file, at most `cap` bytes: a longer one is refused (TooLarge).
Failure Read(const std::string& path, std::string& bytes, Kinds kinds = Kinds::RegularOnly, size_t cap = ReadCap);

// The folder part of a path: "." for a bare name, "/" for the root.
std::string FolderOf(const std::string& path);

}  // namespace files
