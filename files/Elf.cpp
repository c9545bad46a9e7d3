#include "Elf.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace files {

namespace {

using Header = ElfW(Ehdr);
using Segment = ElfW(Phdr);
using Section = ElfW(Shdr);
constexpr unsigned char NativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char NativeOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;

// The file's descriptor, closed on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool ReadAt(int fd, void* into, size_t size, uint64_t offset) {
    auto* bytes = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t n = ::pread(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n, offset += static_cast<uint64_t>(n), size -= static_cast<size_t>(n);
    }
    return true;
}

// Whether [offset, offset + size) lies within a file of `fileSize` bytes; the
// end it needs goes to `needs` when it does not.
// Nothing when [offset, offset + length) lies within the file; else the truncation.
ElfProblem Within(uint64_t offset, uint64_t length, uint64_t size) {
    if (offset <= size && length <= size - offset) return {};
    return {ElfProblem::Truncated, 0, offset > UINT64_MAX - length ? UINT64_MAX : offset + length, size};
}

// A table of `count` entries of `T` at `offset`, each `entrySize` bytes as the header says.
template <typename T>
ElfProblem ReadTable(int fd, uint64_t offset, uint64_t count, uint64_t entrySize, uint64_t size, std::vector<T>& table) {
    if (count == 0) return {};
    if (entrySize != sizeof(T)) return {ElfProblem::Damaged};
    if (auto outside = Within(offset, count * sizeof(T), size); outside.failed()) return outside;
    table.resize(count);
    if (!ReadAt(fd, table.data(), count * sizeof(T), offset)) return {ElfProblem::CannotOpen, errno ? errno : EIO};
    return {};
}

}  // namespace

ElfProblem CheckLoadable(const std::string& path) {
    // O_NONBLOCK: a FIFO opens at once and is refused below, instead of waiting for a writer.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0) return {ElfProblem::CannotOpen, errno};
    if (!S_ISREG(st.st_mode)) return {ElfProblem::NotRegular};
    const auto size = static_cast<uint64_t>(st.st_size);
    Header h{};
    if (size < sizeof h || !ReadAt(file.fd, &h, sizeof h, 0) || std::memcmp(h.e_ident, ELFMAG, SELFMAG) != 0)
        return {ElfProblem::NotElf};
    // Another machine's object dlopen itself refuses with a message; these
    // two the headers' layout below depends on.
    if (h.e_ident[EI_CLASS] != NativeClass || h.e_ident[EI_DATA] != NativeOrder) return {ElfProblem::OtherMachine};
    if (h.e_type != ET_DYN) return {ElfProblem::NotShared};
    std::vector<Segment> segments;
    if (auto p = ReadTable(file.fd, h.e_phoff, h.e_phnum, h.e_phentsize, size, segments); p.failed()) return p;
    if (segments.empty()) return {ElfProblem::Damaged};
    for (const Segment& s : segments)
        if (auto p = Within(s.p_offset, s.p_filesz, size); s.p_type != PT_NULL && p.failed()) return p;
    std::vector<Section> sections;
    if (auto p = ReadTable(file.fd, h.e_shoff, h.e_shnum, h.e_shentsize, size, sections); p.failed()) return p;
    for (const Section& s : sections)
        if (auto p = Within(s.sh_offset, s.sh_size, size); s.sh_type != SHT_NOBITS && p.failed()) return p;
    return {};
}

}  // namespace files
