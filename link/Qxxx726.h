// Binding of the interface library of the chosen interface, its error codes
// and texts, and the one-request exchange with the module.
#pragma once

#include "Dekl.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// One Windows-1250 character code per cell; a 0 cell ends the text.
using TChybovyText = std::array<int32_t, 100>;
using TOdpoved = std::array<int32_t, 100>;

// Error codes of the binding (1-99 belong to the libraries); the texts of
// 100 and above are kv618::BindingText's.
enum : int32_t {
    KodOk = 0,
    KodNeinicializovano = 10,   // type above 4, or the entry point is not bound
};

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
// A zero handle sends nothing and changes nothing.
void PrenosDat(uint8_t Typ, int32_t Handle, uint8_t Adresa, uint8_t Funkce, uint8_t Podfunkce,
               uint8_t& D0, uint8_t& D1, uint8_t& D2, uint8_t& D3, uint8_t& D4, uint8_t& Chyba,
               TOdpoved& Odpoved);

// Folder searched first for the libraries; the executable's own by default.
// Tests point it at a folder of their own; an empty text restores the default.
void NastavSlozkuKnihoven(const std::string& Slozka);
bool JeKnihovnaNactena();
