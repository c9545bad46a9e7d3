// The binding of the chosen interface's library by its designed names, and
// the one-request exchange with the module: a thin face over the program's
// binding (a kv618::Library, one per program) and the same exchange every
// other caller makes (kv618::Library::Exchange).  Codes are the link's
// (ErrorCodes.h).
#pragma once

#include "Dekl.h"
#include "ErrorCodes.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// One Windows-1250 character code per cell; a 0 cell ends the text.
using TChybovyText = std::array<int32_t, 100>;
using TOdpoved = std::array<int32_t, 100>;

namespace kv618 {
class Library;
}

// The program's binding: the one library the functions below work on, and
// the one the connection worker opens the program's link in.
kv618::Library& VazbaProgramu();

// An _Init that succeeds but leaves the handle 0 gives 110 + type, as a
// library that lacks an entry point does; the library stays bound for now.
int32_t InitRozhrani(uint8_t Typ, int32_t* Handle, TInitParametry Parametry);
int32_t KonfigRozhrani(uint8_t Typ, int32_t Handle, int32_t Rychlost, int32_t Cas, int32_t Rezim);
int32_t PosliRozhrani(uint8_t Typ, int32_t Handle, const int32_t* Pozadavek, int32_t* Odpoved,
                      int32_t* Stav, int32_t* Chyba);
int32_t UkonciRozhrani(uint8_t Typ, int32_t* Handle);
int32_t TextChyby(uint8_t Typ, int32_t Kod, TChybovyText& Buffer);
void TextNaBuffer(std::string_view Text, TChybovyText& Buffer);
std::string BufferNaText(const TChybovyText& Buffer);

// TextChyby and BufferNaText in one step, for display.
std::string TextKodu(uint8_t Typ, int32_t Kod);

// One request/reply exchange.  D0..D4 are sent and, on success, replaced by
// the reply status and the four reply bytes; on an error all five become 0.
// A zero handle sends nothing and changes nothing.  A code that does not fit
// the error byte becomes kv618::CodeOutOfRange rather than passing for
// success.
void PrenosDat(uint8_t Typ, int32_t Handle, uint8_t Adresa, uint8_t Funkce, uint8_t Podfunkce,
               uint8_t& D0, uint8_t& D1, uint8_t& D2, uint8_t& D3, uint8_t& D4, uint8_t& Chyba,
               TOdpoved& Odpoved);

// Folder searched first for the libraries; the executable's own by default.
// Tests point it at a folder of their own; an empty text restores the default.
void NastavSlozkuKnihoven(const std::string& Slozka);
const std::string& SlozkaKnihoven();
bool JeKnihovnaNactena();
