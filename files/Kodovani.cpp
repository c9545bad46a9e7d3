#include "Kodovani.h"

#include <array>
#include <cstdint>

// A fixed table rather than iconv: iconv refuses the code page's unassigned
// bytes and would need error handling on every call, while the module's
// error-text cells may hold any byte and must still read back as a text.
namespace {

constexpr std::array<char32_t, 128> HorniPolovina = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
};

void PridejUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one character at `i`; returns its length, 0 when malformed.
size_t DekodujUtf8(std::string_view s, size_t i, char32_t& c) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    size_t delka;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        delka = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        delka = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        delka = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + delka > s.size()) return 0;
    for (size_t k = 1; k < delka; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return delka;
}

char KodujZnak1250(char32_t c) {
    if (c < 0x80) return static_cast<char>(c);
    for (size_t k = 0; k < HorniPolovina.size(); ++k) {
        if (HorniPolovina[k] == c && c != 0xFFFD) return static_cast<char>(0x80 + k);
    }
    return '?';
}

// Walks UTF-8 text: `zapis(out, c, bajty)` writes each character, each byte
// that starts none becomes '?'.
template <typename Zapis>
std::string PrepisUtf8(std::string_view utf8, Zapis zapis) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t delka = DekodujUtf8(utf8, i, c);
        if (delka == 0) {
            out += '?';
            ++i;
        } else {
            zapis(out, c, utf8.substr(i, delka));
            i += delka;
        }
    }
    return out;
}

}  // namespace

namespace Kodovani {

std::string Cp1250NaUtf8(std::string_view cp1250) {
    std::string out;
    out.reserve(cp1250.size() * 2);
    for (char ch : cp1250) {
        const auto b = static_cast<unsigned char>(ch);
        PridejUtf8(out, b < 0x80 ? char32_t{b} : HorniPolovina[b - 0x80]);
    }
    return out;
}

std::string Utf8NaCp1250(std::string_view utf8) {
    return PrepisUtf8(utf8, [](std::string& out, char32_t c, std::string_view) { out += KodujZnak1250(c); });
}

std::string PlatneUtf8(std::string_view bytes) {
    return PrepisUtf8(bytes, [](std::string& out, char32_t, std::string_view znak) { out.append(znak); });
}

bool JePlatneUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        char32_t c = 0;
        const size_t delka = DekodujUtf8(bytes, i, c);
        if (delka == 0) return false;
        i += delka;
    }
    return true;
}

bool JeAscii(std::string_view bytes) {
    for (char ch : bytes) {
        if (static_cast<unsigned char>(ch) >= 0x80) return false;
    }
    return true;
}

unsigned char MalePismeno1250(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x8A: case 0x8C: case 0x8D: case 0x8E: case 0x8F:
            return static_cast<unsigned char>(c + 0x10);  // Š Ś Ť Ž Ź
        case 0xA3: return 0xB3;  // Ł
        case 0xA5: return 0xB9;  // Ą
        case 0xAA: return 0xBA;  // Ş
        case 0xAF: return 0xBF;  // Ż
        case 0xBC: return 0xBE;  // Ľ
        default: break;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    return c;
}

bool StejneBezVelikosti1250(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (MalePismeno1250(static_cast<unsigned char>(a[i])) !=
            MalePismeno1250(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace Kodovani
