// Windows-1250 <-> UTF-8.  Texts inside the program are UTF-8; Windows-1250
// lives only in the settings file and in the libraries' error-text cells.
#pragma once

#include <string>
#include <string_view>

namespace Kodovani {

// Every byte maps to a character; the five bytes the code page leaves
// unassigned come out as U+FFFD, so arbitrary cells always give a text.
std::string Cp1250NaUtf8(std::string_view cp1250);

// Characters the code page lacks become '?'; malformed UTF-8 bytes too.
std::string Utf8NaCp1250(std::string_view utf8);

// The text with every malformed UTF-8 byte replaced by '?'; well-formed
// characters, whatever they are, pass unchanged.
std::string PlatneUtf8(std::string_view bytes);

// True for well-formed UTF-8 (no overlongs, no surrogates, nothing past U+10FFFF).
bool JePlatneUtf8(std::string_view bytes);

bool JeAscii(std::string_view bytes);

// Case fold of one Windows-1250 byte: ASCII and the code page's letters with
// diacritics, so "PŘIPOJENÍ" matches "Připojení".
unsigned char MalePismeno1250(unsigned char c);

bool StejneBezVelikosti1250(std::string_view a, std::string_view b);

}  // namespace Kodovani
