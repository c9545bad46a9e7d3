#include "Catalogue.h"

#include "Files.h"

#include <cstring>

namespace i18n {

namespace {

// The file's first word; a catalogue of the other byte order reads it swapped.
constexpr uint32_t Magic = 0x950412de;
// Magic, revision, the number of strings, the offsets of the two tables of
// (length, offset) pairs, the hash table's size and offset.
constexpr size_t HeaderSize = 28;

}  // namespace

uint32_t Catalogue::Word(size_t at) const {
    uint32_t word;
    std::memcpy(&word, bytes_.data() + at, sizeof word);
    return swapped_ ? __builtin_bswap32(word) : word;
}

// The string of entry `index` of a table, or nullptr where its length and
// offset do not lie within the file or it lacks the NUL msgfmt puts after it.
const char* Catalogue::String(uint32_t table, uint32_t index) const {
    const size_t entry = size_t{table} + size_t{index} * 8;
    const size_t length = Word(entry), offset = Word(entry + 4);
    if (offset >= bytes_.size() || length >= bytes_.size() - offset || bytes_[offset + length] != '\0') return nullptr;
    return bytes_.data() + offset;
}

bool Catalogue::Load(const std::string& path) {
    *this = Catalogue();
    Catalogue read;
    if (files::Read(path, read.bytes_).failed() || read.bytes_.size() < HeaderSize) return false;
    read.swapped_ = read.Word(0) != Magic;
    if (read.Word(0) != Magic) return false;
    const uint32_t count = read.Word(8), originals = read.Word(12), translations = read.Word(16);
    for (const uint32_t table : {originals, translations})
        if (table > read.bytes_.size() || count > (read.bytes_.size() - table) / 8) return false;
    read.count_ = count;
    read.originals_ = originals;
    read.translations_ = translations;
    *this = std::move(read);
    return Loaded();
}

const char* Catalogue::Find(const char* original) const {
    if (!*original) return nullptr;  // the header entry is no translation
    // msgfmt sorts the originals, so that a reader can halve its way to one.
    uint32_t low = 0, high = count_;
    while (low < high) {
        const uint32_t middle = low + (high - low) / 2;
        const char* candidate = String(originals_, middle);
        if (!candidate) return nullptr;
        const int order = std::strcmp(original, candidate);
        if (order == 0) {
            const char* translation = String(translations_, middle);
            return translation && *translation ? translation : nullptr;
        }
        if (order < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return nullptr;
}

}  // namespace i18n
