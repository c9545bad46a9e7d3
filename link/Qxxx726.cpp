#include "Qxxx726.h"

#include "Kodovani.h"
#include "qxxx726_abi.h"

#include <dlfcn.h>

namespace {

constexpr std::array<const char*, 5> Prefixy = {"QCOM726", "QPCI726", "QPCI1726", "QUSB1726", "QKV1726"};

struct TVazba {
    void* knihovna = nullptr;
    bool initSelhal = false;  // bound, but its _Init failed: no link open
    Qxxx726_Version Version = nullptr;
    void* Init = nullptr;  // shape depends on the interface
    Qxxx726_SetConfig SetConfig = nullptr;
    Qxxx726_GetConfig GetConfig = nullptr;
    Qxxx726_Send Send = nullptr;
    Qxxx726_Done Done = nullptr;
    Qxxx726_Error Error = nullptr;
};

TVazba Vazba;

std::string& SlozkaKnihoven() {
    static std::string slozka;
    return slozka;
}

void Uvolni() {
    if (Vazba.knihovna) ::dlclose(Vazba.knihovna);
    Vazba = TVazba{};
}

void* Nacti(uint8_t typ) {
    const std::string slozka = SlozkaKnihoven().empty() ? SlozkaProgramu() : SlozkaKnihoven();
    const std::string vedle = slozka + "/" + SouboryKnihoven[typ];
    if (void* h = ::dlopen(vedle.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    return ::dlopen(SouboryKnihoven[typ], RTLD_NOW | RTLD_LOCAL);
}

template <typename F>
F Vstup(void* knihovna, uint8_t typ, const char* pripona) {
    const std::string jmeno = std::string(Prefixy[typ]) + pripona;
    return reinterpret_cast<F>(::dlsym(knihovna, jmeno.c_str()));
}

bool VazbaPlatna(uint8_t typ) { return typ <= RozhraniKV1726; }

int32_t VolejInit(uint8_t typ, int32_t* handle, const TInitParametry& parametry) {
    switch (typ) {
        case RozhraniCOM:
        case RozhraniPCI726:
            return reinterpret_cast<Qxxx726_InitPort>(Vazba.Init)(handle, static_cast<int32_t>(parametry[0]));
        case RozhraniPCI1726:
        case RozhraniUSB1726:
            return reinterpret_cast<Qxxx726_InitPlain>(Vazba.Init)(handle);
        default:
            return reinterpret_cast<Qxxx726_InitBlock>(Vazba.Init)(handle, parametry.data());
    }
}

}  // namespace

void NastavSlozkuKnihoven(const std::string& Slozka) { SlozkaKnihoven() = Slozka; }

bool JeKnihovnaNactena() { return Vazba.knihovna != nullptr; }

int32_t InitRozhrani(uint8_t Typ, int32_t* Handle, TInitParametry Parametry) {
    const TInitParametry kopie = Parametry;
    // A library whose _Init failed holds no link: unload it before binding
    // anew.  One with a link never closed stays loaded, since unloading it
    // would pull its code from under that link; only its entry points go.
    if (Vazba.initSelhal) Uvolni();
    Vazba = TVazba{};
    if (!VazbaPlatna(Typ)) return KodNeinicializovano;

    void* knihovna = Nacti(Typ);
    if (!knihovna) return KodChybaNacteni + Typ;

    TVazba nova;
    nova.knihovna = knihovna;
    nova.Version = Vstup<Qxxx726_Version>(knihovna, Typ, "_Version");
    nova.Init = Vstup<void*>(knihovna, Typ, "_Init");
    nova.SetConfig = Vstup<Qxxx726_SetConfig>(knihovna, Typ, "_SetConfig");
    nova.GetConfig = Vstup<Qxxx726_GetConfig>(knihovna, Typ, "_GetConfig");
    nova.Send = Vstup<Qxxx726_Send>(knihovna, Typ, "_Send");
    nova.Done = Vstup<Qxxx726_Done>(knihovna, Typ, "_Done");
    nova.Error = Vstup<Qxxx726_Error>(knihovna, Typ, "_Error");
    if (!nova.Version || !nova.Init || !nova.SetConfig || !nova.GetConfig || !nova.Send || !nova.Done ||
        !nova.Error) {
        ::dlclose(knihovna);
        return KodChybnaKnihovna + Typ;
    }
    Vazba = nova;

    const int32_t vysledek = VolejInit(Typ, Handle, kopie);
    Vazba.initSelhal = vysledek != 0;
    return vysledek;
}

int32_t KonfigRozhrani(uint8_t Typ, int32_t Handle, int32_t Rychlost, int32_t Cas, int32_t Rezim) {
    if (!VazbaPlatna(Typ) || !Vazba.SetConfig) return KodNeinicializovano;
    return Vazba.SetConfig(Handle, Rychlost, Cas, Rezim);
}

int32_t PosliRozhrani(uint8_t Typ, int32_t Handle, const int32_t* Pozadavek, int32_t* Odpoved,
                      int32_t* Stav, int32_t* Chyba) {
    if (!VazbaPlatna(Typ) || !Vazba.Send) return KodNeinicializovano;
    return Vazba.Send(Handle, Pozadavek, Odpoved, Stav, Chyba);
}

int32_t UkonciRozhrani(uint8_t Typ, int32_t* Handle) {
    if (!VazbaPlatna(Typ) || !Vazba.Done) return KodNeinicializovano;
    const int32_t vysledek = Vazba.Done(Handle);
    Uvolni();
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
        if (!VazbaPlatna(Typ) || !Vazba.Error) {
            Buffer.fill(0);
            return KodNeinicializovano;
        }
        return Vazba.Error(Kod, Buffer.data());
    }
    if (Kod >= KodChybaNacteni && Kod <= KodChybaNacteni + 4) {
        TextNaBuffer(std::string("chyba inicializace knihovny ") + SouboryKnihoven[Kod - KodChybaNacteni], Buffer);
    } else if (Kod >= KodChybnaKnihovna && Kod <= KodChybnaKnihovna + 4) {
        TextNaBuffer(std::string("chybná knihovna ") + SouboryKnihoven[Kod - KodChybnaKnihovna], Buffer);
    } else {
        TextNaBuffer("neznámý chybový kód", Buffer);
    }
    return KodOk;
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
    std::array<int32_t, 100> pozadavek{};
    pozadavek[0] = Adresa;
    pozadavek[1] = Funkce;
    pozadavek[2] = Podfunkce;
    pozadavek[3] = D0;
    pozadavek[4] = D1;
    pozadavek[5] = D2;
    pozadavek[6] = D3;
    pozadavek[7] = D4;

    int32_t stav = 0;
    int32_t chyba = 0;
    const int32_t vysledek = PosliRozhrani(Typ, Handle, pozadavek.data(), Odpoved.data(), &stav, &chyba);
    if (vysledek != 0) chyba = vysledek;
    // A code outside one byte must not shrink to 0 and pass for success.
    if (chyba < 0 || chyba > 255) chyba = KodMimoRozsah;

    Chyba = static_cast<uint8_t>(chyba);
    if (chyba == 0) {
        D0 = static_cast<uint8_t>(stav & 0xFF);
        D1 = static_cast<uint8_t>(Odpoved[0] & 0xFF);
        D2 = static_cast<uint8_t>(Odpoved[1] & 0xFF);
        D3 = static_cast<uint8_t>(Odpoved[2] & 0xFF);
        D4 = static_cast<uint8_t>(Odpoved[3] & 0xFF);
    } else {
        D0 = D1 = D2 = D3 = D4 = 0;
    }
}
