// A compiled message catalogue, the .mo file msgfmt writes, read by the tools
// themselves where the C library's gettext will not translate: in C.UTF-8,
// the one UTF-8 locale a minimal Debian has, the gettext of Debian 13 ignores
// LANGUAGE as it does in C (Debian 12's still took it).
#pragma once

#include <cstdint>
#include <string>

namespace i18n {

class Catalogue {
public:
    // False, and nothing translated, for a missing, unreadable or damaged file.
    bool Load(const std::string& path);
    bool Loaded() const { return count_ > 0; }

    // The translation of `original`, or nullptr where the catalogue has none.
    const char* Find(const char* original) const;

private:
    uint32_t Word(size_t at) const;
    const char* String(uint32_t table, uint32_t index) const;

    std::string bytes_;
    bool swapped_ = false;  // written on a machine of the other byte order
    uint32_t count_ = 0, originals_ = 0, translations_ = 0;
};

}  // namespace i18n
