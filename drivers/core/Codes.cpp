#include "Codes.h"

#include "Kodovani.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace drv {

const char* codeText(int32_t code) {
    switch (code) {
        case Ok: return "Komunikace v pořádku";
        case NoReply: return "Modul neodpovídá - zkontrolujte adresu modulu, rychlost a vedení";
        case BadChecksum: return "Poškozená odpověď modulu (chybný kontrolní součet) - zkontrolujte vedení";
        case BadFrame: return "Poškozená odpověď modulu (chybný rámec nebo délka) - zkontrolujte vedení a rychlost";
        case OtherAddress: return "Odpověděl modul s jinou adresou - zkontrolujte adresu modulu";
        case Refused: return "Modul požadavek odmítl";
        case UnknownFunction: return "Modul požadavek odmítl - neznámý kód funkce";
        case UnknownSubcode: return "Modul požadavek odmítl - neznámý podkód";
        case UnknownRegister: return "Modul požadavek odmítl - neznámý konfigurační registr";
        case NotInitialised: return "Spojení s modulem není inicializováno";
        case PortMissing: return "Sériový port neexistuje - zkontrolujte číslo portu nebo přiřazení v QCOM726.ini";
        case PortBusy: return "Sériový port používá jiný program - ukončete ho nebo zvolte jiný port";
        case PortDenied:
            return "Přístup k portu odepřen - přidejte uživatele do skupiny dialout a přihlaste se znovu";
        case NotSerialPort: return "Zařízení není sériový port - opravte přiřazení portu v QCOM726.ini";
        case CardMissing: return "Karta ani převodník nebyly nalezeny - zkontrolujte připojení a bázovou adresu";
        case InvalidHandle: return "Neplatný identifikátor spojení";
        case InvalidParameter: return "Neplatný parametr";
        case IoError: return "Chyba vstupu/výstupu - zkontrolujte připojení rozhraní";
        case TooManyLinks: return "Příliš mnoho otevřených spojení - ukončete některé z nich";
        case UntrustedFolder:
            return "Složka soketů karet není soukromá - patří jinému uživateli nebo do ní mohou psát ostatní";
        default: return nullptr;
    }
}

namespace {

std::mutex detailsMutex;
std::map<int32_t, std::string>& details() {
    static std::map<int32_t, std::string> texts;
    return texts;
}

std::string detailedText(int32_t code) {
    std::lock_guard lock(detailsMutex);
    const auto it = details().find(code);
    return it == details().end() ? std::string() : it->second;
}

}  // namespace

void setDetailedText(int32_t code, const std::string& utf8) {
    std::lock_guard lock(detailsMutex);
    details()[code] = utf8;
}

int32_t fillErrorText(int32_t code, int32_t* buffer) {
    if (!buffer) return InvalidParameter;
    const char* known = codeText(code);
    std::string utf8 = detailedText(code);
    if (utf8.empty()) utf8 = known ? std::string(known) : "Neznámý chybový kód " + std::to_string(code);
    const std::string cp1250 = Kodovani::Utf8NaCp1250(utf8);
    constexpr size_t cells = 100;
    const size_t length = std::min(cp1250.size(), cells - 1);
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(cp1250[i]);
    for (size_t i = length; i < cells; ++i) buffer[i] = 0;
    return Ok;
}

}  // namespace drv
