#include "KonfiguracniOkno.h"

#include "Qxxx726.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <thread>

TKonfiguracniOkno::TKonfiguracniOkno(QWidget* Owner, const QString& Jmeno, const QString& Titulek, int Sirka,
                                     int Vyska)
    : QDialog(Owner) {
    setObjectName(Jmeno);
    setWindowTitle(Titulek);
    setFixedSize(Sirka, Vyska);
    setSizeGripEnabled(false);

    StatusBar1 = new TStatusBar(this, {0});
    // An error text of the library is longer than the window is wide.
    StatusBar1->ZalamujText(2);
    const int vyskaStavu = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, Vyska - vyskaStavu, Sirka, vyskaStavu);
}

QPushButton* TKonfiguracniOkno::VytvorTlacitko(const QString& Jmeno, const QString& Text, int X, int Y,
                                               int Sirka, int Vyska) {
    auto* tlacitko = new QPushButton(Text, this);
    tlacitko->setObjectName(Jmeno);
    tlacitko->setAutoDefault(false);
    tlacitko->setGeometry(X, Y, Sirka, Vyska);
    return tlacitko;
}

void TKonfiguracniOkno::showEvent(QShowEvent* Udalost) {
    QDialog::showEvent(Udalost);
    // A window given back from the task bar is not a new opening.
    if (!Udalost->spontaneous()) FormShow();
}

// --- status bar ---------------------------------------------------------

void TKonfiguracniOkno::NastavStatus(const QString& Text) { StatusBar1->NastavText(0, Text); }

QString TKonfiguracniOkno::Status() const { return StatusBar1->Text(0); }

void TKonfiguracniOkno::StatusCteni(int Procent) {
    NastavStatus(QString::fromUtf8(TextCteniZacatek) + QString::number(Procent) + QStringLiteral(" %)"));
}

void TKonfiguracniOkno::StatusZapisu(int Procent) {
    NastavStatus(QString::fromUtf8(TextZapisuZacatek) + QString::number(Procent) + QStringLiteral(" %)"));
}

void TKonfiguracniOkno::StatusChyby(uint8_t Kod) {
    NastavStatus(" " + TextKodu(PData ? PData->Rozhrani : uint8_t{0}, Kod));
}

bool TKonfiguracniOkno::HlidejPripojeni() {
    if (JeSpojeni()) return true;
    NastavStatus(QString::fromUtf8(TextNepripojeno));
    return false;
}

void TKonfiguracniOkno::Prodleva() {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// --- exchanges ----------------------------------------------------------

uint8_t TKonfiguracniOkno::Prenos(uint8_t Funkce, uint8_t D1, uint8_t D2, uint8_t D3, uint8_t D4,
                                  uint8_t& OdpovedD3) {
    uint8_t d0 = 0, chyba = 0;
    TOdpoved odpoved{};
    PrenosDat(PData->Rozhrani, PData->Handle, PData->Adresa, Funkce, 0, d0, D1, D2, D3, D4, chyba, odpoved);
    OdpovedD3 = D3;
    return chyba;
}

bool TKonfiguracniOkno::CtiRegistr(uint8_t Registr, uint8_t& Hodnota) {
    uint8_t d3 = 0;
    const uint8_t chyba = Prenos(FunkceCtiRegistr, Registr, Registr, 0, 0, d3);
    if (chyba != 0) {
        StatusChyby(chyba);
        return false;
    }
    Hodnota = d3;
    return true;
}

bool TKonfiguracniOkno::ZapisOverRegistr(uint8_t Registr, uint8_t Hodnota) {
    uint8_t d3 = 0;
    uint8_t chyba = Prenos(FunkceZapisRegistr, Registr, Registr, Hodnota, Hodnota, d3);
    if (chyba != 0) {
        StatusChyby(chyba);
        return false;
    }
    Prodleva();
    uint8_t zpet = 0;
    if (!CtiRegistr(Registr, zpet)) return false;
    if (zpet != Hodnota) {
        NastavStatus(" " + QString::fromUtf8(TextChybaZapisu));
        return false;
    }
    return true;
}

// --- flow of the buttons ------------------------------------------------

template <class F>
void TKonfiguracniOkno::Sekvence(F Akce) {
    if (Probiha_) return;
    Probiha_ = true;
    Akce();
    Probiha_ = false;
    ProvedOdlozene();
}

void TKonfiguracniOkno::ProvedOdlozene() {
    const TOdlozeno odlozeno = Odlozeno_;
    Odlozeno_ = TOdlozeno::Nic;
    if (odlozeno == TOdlozeno::Ok) PotvrzeniOkna();
    else if (odlozeno == TOdlozeno::Zavrit) QDialog::done(OdlozenyVysledek_);
}

void TKonfiguracniOkno::done(int Vysledek) {
    if (Probiha_) {
        if (Odlozeno_ == TOdlozeno::Nic) {
            Odlozeno_ = TOdlozeno::Zavrit;
            OdlozenyVysledek_ = Vysledek;
        }
        return;
    }
    QDialog::done(Vysledek);
}

void TKonfiguracniOkno::ZobrazKonfiguraci() {
    if (!PData) return;
    Pracovni = PData->Konfigurace;
    ZapisOkno(Pracovni);
    NastavStatus(QStringLiteral(" "));
}

void TKonfiguracniOkno::CteniZModulu() {
    Sekvence([this] {
        if (!HlidejPripojeni()) return;
        PrectiData(Pracovni);
        ZapisOkno(Pracovni);
    });
}

void TKonfiguracniOkno::ZapisDoModulu() {
    Sekvence([this] {
        if (!HlidejPripojeni()) return;
        PrectiOkno(Pracovni);
        if (StatusUspech()) ZapisData(Pracovni);
    });
}

void TKonfiguracniOkno::PotvrzeniOkna() {
    if (Probiha_) {
        if (Odlozeno_ == TOdlozeno::Nic) Odlozeno_ = TOdlozeno::Ok;
        return;
    }
    if (!PData) return;
    PrectiOkno(Pracovni);
    if (StatusUspech()) PData->Konfigurace = Pracovni;
    accept();
}

void TKonfiguracniOkno::ZruseniOkna() { reject(); }
