// Whether a file is a whole shared object that dlopen may map.  dlopen maps
// what the file's headers name without comparing it with the file's size:
// a truncated file (a half-copied upgrade) makes the first touch beyond its
// end fault with SIGBUS, and a FIFO in its place makes it wait for ever.
// So the file is checked first: a regular file, ELF of this machine's class
// and byte order, a shared object, whose program headers, loadable segments
// and section headers all lie within its size.
#pragma once

#include <cstdint>
#include <string>

namespace files {

// Why a file may not be loaded; the caller puts it into words.
struct ElfProblem {
    enum Kind {
        None,          // it may be loaded
        CannotOpen,    // `error`
        NotRegular,    // a FIFO, a device, a folder
        NotElf,        // no ELF header: not a shared object at all
        OtherMachine,  // ELF of another class or byte order
        NotShared,     // an executable or an object file, not a shared object
        Damaged,       // headers of the wrong size, no program headers
        Truncated,     // its headers name bytes up to `needs`, the file holds `size`
    } kind = None;
    int error = 0;
    uint64_t needs = 0, size = 0;

    bool failed() const { return kind != None; }
};
ElfProblem CheckLoadable(const std::string& path);

}  // namespace files
