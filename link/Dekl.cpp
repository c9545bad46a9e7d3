#include "Dekl.h"

#include "Commands.h"
#include "FileTexts.h"
#include "Files.h"
#include "IniSoubor.h"
#include "Interfaces.h"
#include "Numbers.h"
#include "Places.h"

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* SekcePripojeni = "Připojení";

std::string& PrepsanaCestaNastaveni() {
    static std::string cesta;
    return cesta;
}

// Overwrites `pole` only when the key holds a whole number; the field keeps
// its value otherwise.  The number is cut to the field's width.
template <typename T>
void CtiCislo(const TIniSoubor& ini, const char* sekce, const char* klic, T& pole) {
    const auto text = ini.Cti(sekce, klic);
    if (const auto hodnota = text ? files::ParseTyped(*text) : std::nullopt) pole = static_cast<T>(*hodnota);
}

}  // namespace

TKonfigurace VychoziKonfigurace() {
    TKonfigurace k{};
    k.UlozenaAdresa = 1;
    k.UlozenaRychlost = 4;
    for (auto& cislo : k.ImpulsniCislo) cislo = 1;
    for (int i = 0; i < 4; ++i) {
        k.NegaceDIN[i] = 0xFF;
        k.NegaceDOUT[i] = 0xFF;
        k.PocatecniDOUT[i] = 0;
    }
    return k;
}

void InicializujData(TData* Data) {
    if (!Data) return;
    Data->Rozhrani = 0;
    Data->Adresa = 0;
    Data->Rychlost = 9600;
    Data->Status = TextNeinicializovano;
    Data->Handle = 0;
    Data->Pripojeno = 0;
    Data->Konfigurace = VychoziKonfigurace();
    Data->InitParametry.fill(0);
    for (const auto& rozhrani : kv618::Interfaces) {
        for (const auto& parametr : rozhrani.parameters) kv618::SetParameter(*Data, parametr, parametr.defaultValue);
    }
}

std::string SlozkaProgramu() {
    // Read once: the executable does not move while it runs, and the settings
    // and the interface library each ask for it.
    static const std::string slozka = [] {
        std::string cesta(4096, '\0');
        const ssize_t n = ::readlink("/proc/self/exe", cesta.data(), cesta.size() - 1);
        if (n <= 0) return std::string(".");
        cesta.resize(static_cast<size_t>(n));
        const auto lomitko = cesta.rfind('/');
        return lomitko == 0 ? std::string("/") : cesta.substr(0, lomitko);
    }();
    return slozka;
}

std::string CestaNastaveni() {
    if (!PrepsanaCestaNastaveni().empty()) return PrepsanaCestaNastaveni();
    // A build tree or a copy on a USB stick keeps its settings beside the
    // program; an installed program may not write there.
    const std::string program = SlozkaProgramu();
    const std::string uzivatel = files::UserSettingsFolder();
    if (::access(program.c_str(), W_OK) == 0 || uzivatel.empty()) return program + "/" + NazevSouboruNastaveni;
    return uzivatel + "/" + NazevSouboruNastaveni;
}

namespace {

// The user's settings folder comes into being with the first save, private
// to the user; a path chosen by hand (--settings, tests) is never created.
bool PripravSlozkuNastaveni(const std::string& cesta, std::string* Chyba) {
    const std::string slozka = files::UserSettingsFolder();
    if (slozka.empty() || cesta != slozka + "/" + NazevSouboruNastaveni) return true;
    const files::Failure f = files::MakeFolders(slozka);
    if (!f.failed()) return true;
    if (Chyba) *Chyba = "Nelze zapsat soubor nastavení " + cesta + ": " + i18n::FileReasonCzech(f);
    return false;
}

}  // namespace

void NastavCestuNastaveni(const std::string& Cesta) { PrepsanaCestaNastaveni() = Cesta; }

bool NactiNastaveni(TData* Data) {
    if (!Data) return false;
    const TIniSoubor ini = TIniSoubor::Nacti(CestaNastaveni());
    // "jkl" names no interface: a missing key reads as it, and a file without
    // the interface key is ignored whole.
    const std::string rozhrani = ini.Cti(SekcePripojeni, "Rozhraní").value_or("jkl");
    if (rozhrani == "jkl") return false;

    CtiCislo(ini, SekcePripojeni, "Adresa", Data->Adresa);
    CtiCislo(ini, SekcePripojeni, "Rychlost", Data->Rychlost);
    // Every interface's parameters, so the record carries the last stored
    // ones of each; a value that is no number leaves its field alone.
    for (const auto& popis : kv618::Interfaces) {
        for (const auto& parametr : popis.parameters) {
            if (const auto text = ini.Cti(parametr.section, parametr.key)) kv618::SetParameter(*Data, parametr, *text);
        }
    }

    for (size_t i = 0; i < kv618::Interfaces.size(); ++i) {
        if (rozhrani == kv618::Interfaces[i].settingsName) Data->Rozhrani = static_cast<uint8_t>(i);
    }
    return true;
}

bool UlozNastaveni(TData* Data, std::string* Chyba) {
    if (!Data) return false;
    const std::string cesta = CestaNastaveni();
    TIniSoubor ini = TIniSoubor::Nacti(cesta);

    // An unknown interface is stored as the COM port.
    const auto& rozhrani = kv618::Interfaces[kv618::IsInterface(Data->Rozhrani) ? Data->Rozhrani : uint8_t{RozhraniCOM}];
    ini.Zapis(SekcePripojeni, "Rozhraní", rozhrani.settingsName);
    // Only the current interface's keys: those of the others stay as an
    // earlier run left them.
    for (const auto& parametr : rozhrani.parameters)
        ini.Zapis(parametr.section, parametr.key, kv618::ParameterText(*Data, parametr));
    ini.Zapis(SekcePripojeni, "Adresa", std::to_string(Data->Adresa));
    ini.Zapis(SekcePripojeni, "Rychlost", std::to_string(Data->Rychlost));
    return PripravSlozkuNastaveni(cesta, Chyba) && ini.Uloz(cesta, Chyba);
}

bool JePripojeno(const TData* Data) { return Data && Data->Pripojeno != 0 && Data->Handle != 0; }

int32_t RychlostZIndexu(uint8_t Index) {
    return Index < wire::BaudRates.size() ? wire::BaudRates[Index] : wire::BaudRates[wire::DefaultBaudIndex];
}

uint8_t IndexRychlosti(int32_t Rychlost) { return wire::BaudIndexOf(Rychlost).value_or(wire::DefaultBaudIndex); }

int32_t TimeoutRychlosti(int32_t Rychlost) {
    const auto index = wire::BaudIndexOf(Rychlost);
    return index ? wire::BaudTimeValues[*index] : 100;
}

std::string CasNaText(uint8_t Sekundy, uint8_t Minuty, uint8_t Hodiny) {
    const auto dveCislice = [](unsigned v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    const unsigned h = Hodiny > 23 ? 23 : Hodiny;
    const unsigned m = Minuty > 59 ? 59 : Minuty;
    const unsigned s = Sekundy > 59 ? 59 : Sekundy;
    return std::to_string(h) + ":" + dveCislice(m) + ":" + dveCislice(s);
}

std::string DatumNaText(uint8_t Den, uint8_t Mesic, uint8_t Cyklus, int RokNyni) {
    const unsigned d = Den > 31 ? 31 : Den;
    const unsigned m = Mesic > 12 ? 12 : Mesic;
    const auto rok = static_cast<uint16_t>((RokNyni & ~3) + Cyklus);
    return std::to_string(d) + "." + std::to_string(m) + "." + std::to_string(rok);
}

std::string DatumNaText(uint8_t Den, uint8_t Mesic, uint8_t Cyklus) {
    const std::time_t ted = std::time(nullptr);
    std::tm mistni{};
    localtime_r(&ted, &mistni);
    return DatumNaText(Den, Mesic, Cyklus, mistni.tm_year + 1900);
}

bool CtiCislo(const std::string& Text, uint16_t Dolni, uint16_t Horni, uint16_t& Hodnota) {
    const auto v = files::ParseNumber(Text, Dolni, Horni, files::Typed);
    if (v) Hodnota = static_cast<uint16_t>(*v);
    return v.has_value();
}

uint32_t SlozCislo(uint8_t Bajt0, uint8_t Bajt1, uint8_t Bajt2, uint8_t Bajt3) {
    return uint32_t{Bajt0} | (uint32_t{Bajt1} << 8) | (uint32_t{Bajt2} << 16) | (uint32_t{Bajt3} << 24);
}
