// Settings-file reader on arbitrary bytes: both the Windows-1250 and the
// UTF-8 paths, then a write and a second read of what was written.
#include "IniSoubor.h"
#include "Kodovani.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bajty(reinterpret_cast<const char*>(data), size);
    TIniSoubor ini = TIniSoubor::ZBajtu(bajty);
    for (const char* klic : {"Rozhraní", "Adresa", "Rychlost"}) (void)ini.Cti("Připojení", klic);
    (void)ini.Cti("KV-1726", "IP adresa");
    ini.Zapis("Připojení", "Rozhraní", "KV-1726");
    ini.Zapis("KV-1726", "IP adresa", "127.0.0.1");
    const TIniSoubor znovu = TIniSoubor::ZBajtu(ini.Bajty());
    if (znovu.Cti("Připojení", "Rozhraní") != "KV-1726") std::abort();
    (void)Kodovani::Cp1250NaUtf8(bajty);
    (void)Kodovani::Utf8NaCp1250(bajty);
    return 0;
}
