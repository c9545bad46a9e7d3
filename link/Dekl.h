// The program record, its defaults, the settings file and the value routines
// shared by the windows.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The module's stored configuration as the program keeps it.  Packed and
// always copied whole between TData and a window's working copy.
#pragma pack(push, 1)
struct TKonfigurace {
    uint8_t UlozenaAdresa;
    uint8_t UlozenaRychlost;     // baud-rate list index
    uint16_t ImpulsniCislo[4];
    uint8_t NegaceDIN[4];
    uint8_t NegaceDOUT[4];
    uint8_t PocatecniDOUT[4];
};
#pragma pack(pop)
static_assert(sizeof(TKonfigurace) == 22, "TKonfigurace is packed");

// Pointer-wide cells: cell 0 of the LAN converter's block carries the address
// of the IP text, which does not fit 32 bits on a 64-bit system.
using TInitParametry = std::array<intptr_t, 16>;

enum : uint8_t {
    RozhraniCOM = 0,
    RozhraniPCI726 = 1,
    RozhraniPCI1726 = 2,
    RozhraniUSB1726 = 3,
    RozhraniKV1726 = 4,
};

struct TData {
    std::string Rezerva;
    uint8_t Rozhrani = 0;
    uint8_t Adresa = 0;
    int32_t Rychlost = 9600;
    uint16_t BazovaAdresa = 768;
    uint8_t CisloPortu = 1;
    TInitParametry InitParametry{};
    std::string IPAdresa;
    int32_t UDPPort = 5000;
    int32_t UDPTimeout = 200;
    std::string Status;
    int32_t Handle = 0;
    uint8_t Pripojeno = 0;
    std::string IdentModulu;
    TKonfigurace Konfigurace{};
};

inline constexpr const char* TextNeinicializovano = "Připojení modulu dosud neinicializováno";
inline constexpr const char* TextVPoradku = "V pořádku";
inline constexpr const char* TextNepripojeno = " Připojení k modulu není inicializováno.";
inline constexpr const char* NazevSouboruNastaveni = "R_iv618.ini";

TKonfigurace VychoziKonfigurace();
void InicializujData(TData* Data);

// The settings file "R_iv618.ini": beside the running executable when its
// folder is writable, else in the user's settings folder (files::UserSettingsFolder).
std::string CestaNastaveni();
// Tests point the settings file elsewhere; an empty path restores the default.
void NastavCestuNastaveni(const std::string& Cesta);

bool NactiNastaveni(TData* Data);
// False for a null record, or when the file cannot be written; then `Chyba`
// (if given) receives a message that names the file.
bool UlozNastaveni(TData* Data, std::string* Chyba = nullptr);

// Connection rule: a window may talk to the module only while this holds.
bool JePripojeno(const TData* Data);

int32_t RychlostZIndexu(uint8_t Index);
uint8_t IndexRychlosti(int32_t Rychlost);
int32_t TimeoutRychlosti(int32_t Rychlost);

std::string CasNaText(uint8_t Sekundy, uint8_t Minuty, uint8_t Hodiny);
std::string DatumNaText(uint8_t Den, uint8_t Mesic, uint8_t Cyklus);
// Same, with the calendar year given instead of read from the clock.
std::string DatumNaText(uint8_t Den, uint8_t Mesic, uint8_t Cyklus, int RokNyni);

// A whole number as typed (files::Typed) within the bounds.
bool CtiCislo(const std::string& Text, uint16_t Dolni, uint16_t Horni, uint16_t& Hodnota);
uint32_t SlozCislo(uint8_t Bajt0, uint8_t Bajt1, uint8_t Bajt2, uint8_t Bajt3);

// Folder that holds the running executable, without a trailing slash.
std::string SlozkaProgramu();
