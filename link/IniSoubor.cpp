#include "IniSoubor.h"

#include "Kodovani.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string_view Orizni(std::string_view s) {
    const auto mezera = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && mezera(s.front())) s.remove_prefix(1);
    while (!s.empty() && mezera(s.back())) s.remove_suffix(1);
    return s;
}

// Name of the section a line opens, if it is a section header.
std::optional<std::string_view> Hlavicka(std::string_view radek) {
    const auto s = Orizni(radek);
    if (s.size() < 2 || s.front() != '[') return std::nullopt;
    const auto konec = s.find(']');
    if (konec == std::string_view::npos) return std::nullopt;
    return Orizni(s.substr(1, konec - 1));
}

// Windows drops the quotation marks, single or double, around a value.
std::string_view BezUvozovek(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// A line end inside a value would start a new entry or section of its own.
std::string JedenRadek(std::string s) {
    for (char& c : s) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return s;
}

struct Polozka {
    std::string_view klic;
    std::string_view hodnota;
};

std::optional<Polozka> Rozloz(std::string_view radek) {
    const auto s = Orizni(radek);
    if (s.empty() || s.front() == ';') return std::nullopt;
    const auto rovnitko = s.find('=');
    if (rovnitko == std::string_view::npos) return std::nullopt;
    return Polozka{Orizni(s.substr(0, rovnitko)), Orizni(s.substr(rovnitko + 1))};
}

std::string Slozka(const std::string& cesta) {
    const auto lomitko = cesta.rfind('/');
    if (lomitko == std::string::npos) return ".";
    if (lomitko == 0) return "/";
    return cesta.substr(0, lomitko);
}

bool ZapisVse(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

TIniSoubor TIniSoubor::Nacti(const std::string& cesta) {
    // Without O_NONBLOCK a FIFO would hold the program until someone writes to it.
    const int fd = ::open(cesta.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return TIniSoubor{};
    struct stat udaje {};
    std::string obsah;
    if (::fstat(fd, &udaje) == 0 && S_ISREG(udaje.st_mode)) {
        char blok[4096];
        for (;;) {
            const ssize_t n = ::read(fd, blok, sizeof blok);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            obsah.append(blok, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return ZBajtu(obsah);
}

TIniSoubor TIniSoubor::ZBajtu(std::string_view obsah) {
    TIniSoubor ini;
    if (obsah.substr(0, Bom.size()) == Bom) {
        ini.utf8_ = ini.bom_ = true;
        obsah.remove_prefix(Bom.size());
    } else {
        ini.utf8_ = !Kodovani::JeAscii(obsah) && Kodovani::JePlatneUtf8(obsah);
    }

    const auto prvniLf = obsah.find('\n');
    if (prvniLf != std::string_view::npos && (prvniLf == 0 || obsah[prvniLf - 1] != '\r'))
        ini.konecRadku_ = "\n";

    size_t zacatek = 0;
    while (zacatek < obsah.size()) {
        auto konec = obsah.find('\n', zacatek);
        if (konec == std::string_view::npos) konec = obsah.size();
        std::string radek(obsah.substr(zacatek, konec - zacatek));
        if (!radek.empty() && radek.back() == '\r') radek.pop_back();
        ini.radky_.push_back({std::move(radek)});
        zacatek = konec + 1;
    }
    return ini;
}

std::string TIniSoubor::DoSouboru(std::string_view text) const {
    return utf8_ ? Kodovani::PlatneUtf8(text) : Kodovani::Utf8NaCp1250(text);
}

std::string TIniSoubor::ZeSouboru(std::string_view text) const {
    return utf8_ ? Kodovani::PlatneUtf8(text) : Kodovani::Cp1250NaUtf8(text);
}

std::string TIniSoubor::Nazev1250(std::string_view text) const {
    return utf8_ ? Kodovani::Utf8NaCp1250(text) : std::string(text);
}

std::optional<size_t> TIniSoubor::NajdiSekci(std::string_view sekce1250) const {
    for (size_t i = 0; i < radky_.size(); ++i) {
        const auto nazev = Hlavicka(radky_[i].text);
        if (nazev && Kodovani::StejneBezVelikosti1250(Nazev1250(*nazev), sekce1250)) return i;
    }
    return std::nullopt;
}

size_t TIniSoubor::KonecSekce(size_t hlavicka) const {
    size_t i = hlavicka + 1;
    while (i < radky_.size() && !Hlavicka(radky_[i].text)) ++i;
    return i;
}

std::optional<size_t> TIniSoubor::NajdiKlic(size_t hlavicka, std::string_view klic1250) const {
    const size_t konec = KonecSekce(hlavicka);
    for (size_t i = hlavicka + 1; i < konec; ++i) {
        const auto polozka = Rozloz(radky_[i].text);
        if (polozka && Kodovani::StejneBezVelikosti1250(Nazev1250(polozka->klic), klic1250)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> TIniSoubor::Cti(std::string_view sekce, std::string_view klic) const {
    const auto hlavicka = NajdiSekci(Kodovani::Utf8NaCp1250(sekce));
    if (!hlavicka) return std::nullopt;
    const auto radek = NajdiKlic(*hlavicka, Kodovani::Utf8NaCp1250(klic));
    if (!radek) return std::nullopt;
    return ZeSouboru(BezUvozovek(Rozloz(radky_[*radek].text)->hodnota));
}

void TIniSoubor::Zapis(std::string_view sekce, std::string_view klic, std::string_view hodnota) {
    const std::string sekce1250 = Kodovani::Utf8NaCp1250(sekce);
    const std::string klic1250 = Kodovani::Utf8NaCp1250(klic);
    const std::string hodnotaF = JedenRadek(DoSouboru(hodnota));

    const auto hlavicka = NajdiSekci(sekce1250);
    if (!hlavicka) {
        radky_.push_back({"[" + DoSouboru(sekce) + "]"});
        radky_.push_back({DoSouboru(klic) + "=" + hodnotaF});
        return;
    }
    if (const auto radek = NajdiKlic(*hlavicka, klic1250)) {
        // Keep the key as the file spells it; only the value changes.
        const std::string puvodniKlic(Rozloz(radky_[*radek].text)->klic);
        radky_[*radek].text = puvodniKlic + "=" + hodnotaF;
        return;
    }
    // A new key goes after the section's last non-blank line.
    size_t vlozit = KonecSekce(*hlavicka);
    while (vlozit > *hlavicka + 1 && Orizni(radky_[vlozit - 1].text).empty()) --vlozit;
    radky_.insert(radky_.begin() + static_cast<std::ptrdiff_t>(vlozit), Radek{DoSouboru(klic) + "=" + hodnotaF});
}

std::string TIniSoubor::Bajty() const {
    std::string out(bom_ ? Bom : "");
    for (const auto& radek : radky_) {
        out += radek.text;
        out += konecRadku_;
    }
    return out;
}

bool TIniSoubor::Uloz(const std::string& cesta, std::string* chyba) const {
    const auto selhalo = [&](const char* co) {
        if (chyba) *chyba = "Nelze zapsat soubor nastavení " + cesta + ": " + co + " (" + std::strerror(errno) + ")";
        return false;
    };

    // Through a symbolic link the file it points at gets the new content;
    // a rename over the link itself would cut it off.
    std::string cil = cesta;
    struct stat odkaz {};
    if (::lstat(cesta.c_str(), &odkaz) == 0 && S_ISLNK(odkaz.st_mode)) {
        if (char* skutecna = ::realpath(cesta.c_str(), nullptr)) {
            cil = skutecna;
            std::free(skutecna);
        }
    }

    struct stat puvodni {};
    const bool existuje = ::stat(cil.c_str(), &puvodni) == 0;
    // A FIFO, a device or a folder in the file's place is nobody's settings
    // file to replace.
    if (existuje && !S_ISREG(puvodni.st_mode)) {
        if (chyba) *chyba = "Nelze zapsat soubor nastavení " + cesta + ": není to obyčejný soubor";
        return false;
    }
    // A read-only file is left as it is, as the Windows INI functions leave
    // it; the rename below would replace it regardless.
    if (existuje && ((puvodni.st_mode & 0222) == 0 || ::access(cil.c_str(), W_OK) != 0)) {
        errno = EACCES;
        return selhalo("soubor je jen pro čtení");
    }
    const mode_t prava = existuje ? (puvodni.st_mode & 07777) : 0644;

    std::string sablona = cil + ".XXXXXX";
    const int fd = ::mkstemp(sablona.data());
    if (fd < 0) return selhalo("dočasný soubor nelze vytvořit");

    const bool zapsano = ::fchmod(fd, prava) == 0 && ZapisVse(fd, Bajty()) && ::fsync(fd) == 0;
    const int chybaZapisu = errno;
    if (::close(fd) != 0 || !zapsano) {
        errno = zapsano ? errno : chybaZapisu;
        ::unlink(sablona.c_str());
        return selhalo("zápis selhal");
    }
    if (::rename(sablona.c_str(), cil.c_str()) != 0) {
        const int chybaPrejmenovani = errno;
        ::unlink(sablona.c_str());
        errno = chybaPrejmenovani;
        return selhalo("soubor nelze nahradit");
    }
    // Make the rename itself durable.
    const int slozka = ::open(Slozka(cil).c_str(), O_RDONLY | O_DIRECTORY);
    if (slozka >= 0) {
        ::fsync(slozka);
        ::close(slozka);
    }
    return true;
}
