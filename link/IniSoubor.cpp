#include "IniSoubor.h"

#include "FileTexts.h"
#include "Files.h"
#include "Ini.h"
#include "Kodovani.h"


namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

// Name of the section a line opens, if it is a section header.
std::optional<std::string_view> Hlavicka(std::string_view radek) {
    const files::IniLine l = files::ParseIniLine(radek);
    if (l.kind != files::IniLine::Section) return std::nullopt;
    return l.name;
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
    const files::IniLine l = files::ParseIniLine(radek);
    if (l.kind != files::IniLine::Entry) return std::nullopt;
    return Polozka{l.key, l.value};
}

}  // namespace

TIniSoubor TIniSoubor::Nacti(const std::string& cesta) {
    std::string obsah;
    const files::Failure cteni = files::Read(cesta, obsah);
    TIniSoubor ini = ZBajtu(obsah);
    // A file that is there but cannot be read whole must not be replaced by
    // the few keys the program writes.
    if (cteni.kind == files::Failure::TooLarge || cteni.kind == files::Failure::CannotRead) ini.cteni_ = cteni;
    return ini;
}

TIniSoubor TIniSoubor::ZBajtu(std::string_view obsah) {
    TIniSoubor ini;
    const files::Encoding kodovani = files::EncodingOf(obsah);
    ini.utf8_ = kodovani.utf8;
    ini.bom_ = kodovani.bom;
    if (ini.bom_) obsah.remove_prefix(Bom.size());

    const auto prvniLf = obsah.find('\n');
    if (prvniLf != std::string_view::npos && (prvniLf == 0 || obsah[prvniLf - 1] != '\r'))
        ini.konecRadku_ = "\n";
    for (const std::string_view radek : files::SplitLines(obsah)) ini.radky_.push_back({std::string(radek)});
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
    while (vlozit > *hlavicka + 1 && files::Trim(radky_[vlozit - 1].text).empty()) --vlozit;
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
    files::Failure f = cteni_;
    if (!f.failed()) f = files::Replace(cesta, Bajty());
    if (!f.failed()) return true;
    if (chyba) *chyba = "Nelze zapsat soubor nastavení " + cesta + ": " + i18n::FileReasonCzech(f);
    return false;
}
