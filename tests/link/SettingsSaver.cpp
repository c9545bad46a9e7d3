// Saves the settings over and over, alternating two records, until killed.
// Used by the power-cut test.
#include "Dekl.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    NastavCestuNastaveni(argv[1]);
    TData data;
    InicializujData(&data);
    data.Rozhrani = RozhraniKV1726;
    for (unsigned kolo = 0;; ++kolo) {
        data.Adresa = static_cast<uint8_t>(kolo % 2 ? 2 : 1);
        data.IPAdresa = std::string(kolo % 2 ? 3000 : 2000, kolo % 2 ? 'b' : 'a');
        if (!UlozNastaveni(&data)) return 1;
        if (kolo == 0) {
            std::puts("saving");
            std::fflush(stdout);
        }
    }
}
