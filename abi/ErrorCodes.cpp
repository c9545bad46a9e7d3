#include "ErrorCodes.h"

#include "Libraries.h"

namespace kv618 {

namespace {

const char* LibraryText(int32_t code) {
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

std::string BindingText(int32_t code) {
    const auto count = static_cast<int32_t>(LibraryNames.size());
    if (code >= LoadFailed && code < LoadFailed + count)
        return std::string("chyba inicializace knihovny ") + LibraryNames[code - LoadFailed].file;
    if (code >= EntryMissing && code < EntryMissing + count)
        return std::string("chybná knihovna ") + LibraryNames[code - EntryMissing].file;
    return "neznámý chybový kód";
}

}  // namespace

std::string LibraryCodeText(int32_t code) {
    if (const char* known = LibraryText(code)) return known;
    return "Neznámý chybový kód " + std::to_string(code);
}

std::string CodeText(int32_t code) { return code >= LoadFailed ? BindingText(code) : LibraryCodeText(code); }

}  // namespace kv618
