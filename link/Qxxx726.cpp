#include "Qxxx726.h"

#include "Interfaces.h"
#include "Kodovani.h"
#include "Library.h"

namespace {

// Bound, but its _Init failed: no link open.
bool& InitSelhal() {
    static bool selhal = false;
    return selhal;
}

std::string& Slozka() {
    static std::string slozka;
    return slozka;
}

// The entry points answer only while bound, and only for a known interface.
const kv618::Library* Vazana(uint8_t typ) {
    return kv618::IsInterface(typ) && VazbaProgramu().Bound() ? &VazbaProgramu() : nullptr;
}

}  // namespace

kv618::Library& VazbaProgramu() {
    static kv618::Library vazba;
    return vazba;
}

void NastavSlozkuKnihoven(const std::string& Slozka) { ::Slozka() = Slozka; }

const std::string& SlozkaKnihoven() { return Slozka(); }

bool JeKnihovnaNactena() { return VazbaProgramu().Bound(); }

int32_t InitRozhrani(uint8_t Typ, int32_t* Handle, TInitParametry Parametry) {
    const TInitParametry kopie = Parametry;
    // A library whose _Init failed holds no link: unload it before binding
    // anew.  One with a link never closed stays loaded, since unloading it
    // would pull its code from under that link; only its entry points go.
    if (InitSelhal()) VazbaProgramu().Unload();
    InitSelhal() = false;
    const int32_t nacteni = VazbaProgramu().Load(Typ, SlozkaKnihoven());
    if (nacteni != 0) return nacteni;
    int32_t vysledek = VazbaProgramu().Init(Handle, kopie);
    // Success with handle 0 breaks the library's contract: no link can be
    // told from it, so none is taken as open, and none is closed.
    if (vysledek == kv618::Ok && (!Handle || *Handle == 0)) vysledek = kv618::EntryMissing + Typ;
    InitSelhal() = vysledek != 0;
    return vysledek;
}

int32_t KonfigRozhrani(uint8_t Typ, int32_t Handle, int32_t Rychlost, int32_t Cas, int32_t Rezim) {
    const auto* knihovna = Vazana(Typ);
    return knihovna ? knihovna->SetConfig(Handle, Rychlost, Cas, Rezim) : kv618::NotInitialised;
}

int32_t PosliRozhrani(uint8_t Typ, int32_t Handle, const int32_t* Pozadavek, int32_t* Odpoved, int32_t* Stav,
                      int32_t* Chyba) {
    const auto* knihovna = Vazana(Typ);
    return knihovna ? knihovna->Send(Handle, Pozadavek, Odpoved, Stav, Chyba) : kv618::NotInitialised;
}

int32_t UkonciRozhrani(uint8_t Typ, int32_t* Handle) {
    const auto* knihovna = Vazana(Typ);
    if (!knihovna) return kv618::NotInitialised;
    const int32_t vysledek = knihovna->Done(Handle);
    VazbaProgramu().Unload();
    InitSelhal() = false;
    return vysledek;
}

void TextNaBuffer(std::string_view Text, TChybovyText& Buffer) {
    Buffer.fill(0);
    const std::string text1250 = Kodovani::Utf8NaCp1250(Text);
    const size_t delka = std::min<size_t>(text1250.size(), Buffer.size() - 1);
    for (size_t i = 0; i < delka; ++i) Buffer[i + 1] = static_cast<unsigned char>(text1250[i]);
}

std::string BufferNaText(const TChybovyText& Buffer) {
    std::string text1250;
    for (size_t i = 0; i < Buffer.size(); ++i) {
        const auto znak = static_cast<unsigned char>(Buffer[i] & 0xFF);
        if (znak == 0) {
            if (i == 0) continue;  // a text written from cell 1 leaves cell 0 empty
            break;
        }
        text1250 += static_cast<char>(znak);
    }
    return Kodovani::Cp1250NaUtf8(text1250);
}

int32_t TextChyby(uint8_t Typ, int32_t Kod, TChybovyText& Buffer) {
    if (Kod < 100) {
        const auto* knihovna = Vazana(Typ);
        if (!knihovna) {
            Buffer.fill(0);
            return kv618::NotInitialised;
        }
        return knihovna->Error(Kod, Buffer.data());
    }
    TextNaBuffer(kv618::CodeText(Kod), Buffer);
    return kv618::Ok;
}

std::string TextKodu(uint8_t Typ, int32_t Kod) {
    TChybovyText buffer{};
    TextChyby(Typ, Kod, buffer);
    return BufferNaText(buffer);
}

void PrenosDat(uint8_t Typ, int32_t Handle, uint8_t Adresa, uint8_t Funkce, uint8_t Podfunkce,
               uint8_t& D0, uint8_t& D1, uint8_t& D2, uint8_t& D3, uint8_t& D4, uint8_t& Chyba,
               TOdpoved& Odpoved) {
    if (Handle == 0) return;
    kv618::Reply odpoved{.error = kv618::NotInitialised};
    if (const auto* knihovna = Vazana(Typ))
        odpoved = knihovna->Exchange(Handle, {Adresa, Funkce, Podfunkce, {D0, D1, D2, D3, D4}}, Odpoved.data());
    Chyba = kv618::ErrorByte(odpoved.error);
    D0 = odpoved.status;
    D1 = odpoved.data[0];
    D2 = odpoved.data[1];
    D3 = odpoved.data[2];
    D4 = odpoved.data[3];
}
