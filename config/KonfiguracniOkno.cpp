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

kv618::Module TKonfiguracniOkno::Modul() const { return {{PData->Rozhrani, PData->Handle}, PData->Adresa}; }

void TKonfiguracniOkno::CtiBlok(kv618::Block Blok, TKonfigurace& Data) {
    StatusCteni(0);
    kv618::Pacing tempo;
    tempo.step = [this](int Hotovo, int Celkem) { StatusCteni(Hotovo * 100 / Celkem); };
    tempo.pause = [this] {
        Prodleva();
        return true;
    };
    const auto vysledek = kv618::ReadBlock(Modul(), Blok, Data, tempo);
    if (vysledek.error != 0) StatusChyby(vysledek.error);
    else NastavStatus(QString::fromUtf8(TextPrecteno));
}

void TKonfiguracniOkno::ZapisBlok(kv618::Block Blok, const TKonfigurace& Data) {
    StatusZapisu(0);
    kv618::Pacing tempo;
    tempo.step = [this](int Hotovo, int Celkem) { StatusZapisu(Hotovo * 100 / Celkem); };
    tempo.pause = [this] {
        Prodleva();
        return true;
    };
    tempo.settle = [this] { Prodleva(); };
    const auto vysledek = kv618::WriteBlock(Modul(), Blok, Data, tempo);
    if (vysledek.error != 0) StatusChyby(vysledek.error);
    else if (vysledek.mismatch) NastavStatus(" " + QString::fromUtf8(TextChybaZapisu));
    else NastavStatus(QString::fromUtf8(TextZapsano));
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
