// A settings file in the Windows INI format, kept line by line so that
// everything the program does not own (other sections, keys, comments, blank
// lines, order) is written back exactly as it was read.
#pragma once

#include "Files.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TIniSoubor {
public:
    // Reads the file; a missing or unreadable file, one over 1 MiB, and
    // anything that is not a regular file (a FIFO, a device, a folder), gives
    // an empty one.  A file
    // stored as UTF-8 (with or without a byte-order mark) is taken as UTF-8,
    // anything else as Windows-1250.
    static TIniSoubor Nacti(const std::string& cesta);
    static TIniSoubor ZBajtu(std::string_view obsah);

    // Section and key names are matched without regard to case, Czech
    // letters included.  Names and values are UTF-8.
    std::optional<std::string> Cti(std::string_view sekce, std::string_view klic) const;
    void Zapis(std::string_view sekce, std::string_view klic, std::string_view hodnota);

    // The file's bytes, in the encoding it was read in (a byte-order mark
    // kept); lines not written through Zapis are the bytes that were read.
    std::string Bajty() const;

    // Replaces the file as files::Replace does (through a symbolic link, the
    // old file or the new one after a crash, never a mix).  On failure returns
    // false and a message naming the file; a read-only or non-regular file,
    // and one that was there but could not be read whole, is never replaced.
    bool Uloz(const std::string& cesta, std::string* chyba) const;

private:
    struct Radek {
        std::string text;  // in the file's encoding, without the line end
    };
    std::vector<Radek> radky_;
    std::string konecRadku_ = "\r\n";
    bool utf8_ = false;
    bool bom_ = false;
    files::Failure cteni_;  // why a file that is there was not read

    // Program text (UTF-8) in the file's encoding, and back.
    std::string DoSouboru(std::string_view text) const;
    std::string ZeSouboru(std::string_view text) const;
    // A name from the file in Windows-1250, where names are compared.
    std::string Nazev1250(std::string_view text) const;

    std::optional<size_t> NajdiSekci(std::string_view sekce1250) const;
    size_t KonecSekce(size_t hlavicka) const;
    std::optional<size_t> NajdiKlic(size_t hlavicka, std::string_view klic1250) const;
};
