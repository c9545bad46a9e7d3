#include "KonfiguracniOkno.h"

#include "Okno.h"
#include "Report.h"

#include <QPushButton>
#include <chrono>
#include <thread>

TKonfiguracniOkno::TKonfiguracniOkno(QWidget* Owner, const QString& Jmeno, const QString& Titulek, int Sirka,
                                     int Vyska, kv618::Block Blok)
    : ModuleWindow(Owner), Blok_(Blok) {
    setObjectName(Jmeno);
    setWindowTitle(Titulek);
    setFixedSize(Sirka, Vyska);
    setSizeGripEnabled(false);

    StatusBar1 = SpodniStatusBar(this, Sirka, Vyska);
}

void TKonfiguracniOkno::VytvorTlacitka(int X, int Y, int Sirka, int Krok) {
    const QString texty[4] = {QStringLiteral("Zapsat"), QStringLiteral("Přečíst"), QStringLiteral("Ok"),
                              QStringLiteral("Cancel")};
    QPushButton** tlacitka[4] = {&Button1, &Button2, &Button3, &Button4};
    for (int i = 0; i < 4; ++i) {
        *tlacitka[i] = VytvorTlacitko(this, QStringLiteral("Button%1").arg(i + 1), texty[i]);
        (*tlacitka[i])->setGeometry(X + i * Krok, Y, Sirka, 25);
    }
    connect(Button1, &QPushButton::clicked, this, &TKonfiguracniOkno::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TKonfiguracniOkno::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TKonfiguracniOkno::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TKonfiguracniOkno::Button4Click);
}

void TKonfiguracniOkno::Button1Click() { ZapisDoModulu(); }
void TKonfiguracniOkno::Button2Click() { CteniZModulu(); }
void TKonfiguracniOkno::Button3Click() { PotvrzeniOkna(); }
void TKonfiguracniOkno::Button4Click() { ZruseniOkna(); }

// --- status bar ---------------------------------------------------------

void TKonfiguracniOkno::NastavStatus(const QString& Text) { StatusBar1->NastavText(0, Text); }

QString TKonfiguracniOkno::Status() const { return StatusBar1->Text(0); }

void TKonfiguracniOkno::StatusCteni(int Procent) {
    NastavStatus(QString::fromUtf8(TextCteniZacatek) + QString::number(Procent) + QStringLiteral(" %)"));
}

void TKonfiguracniOkno::StatusZapisu(int Procent) {
    NastavStatus(QString::fromUtf8(TextZapisuZacatek) + QString::number(Procent) + QStringLiteral(" %)"));
}

bool TKonfiguracniOkno::Odmitni(const char* Text) {
    NastavStatus(QString::fromUtf8(Text));
    return false;
}

bool TKonfiguracniOkno::Prijmi() {
    NastavStatus(QStringLiteral(" "));
    return true;
}

bool TKonfiguracniOkno::HlidejPripojeni() { return OverPripojeni(PData, StatusBar1); }

// --- exchanges ----------------------------------------------------------

namespace {

// What a sequence gave, with the text of its error (texts come from the
// bound library, so they are fetched on the worker).
struct TKonecSekvence {
    TKonfigurace Data;
    kv618::SequenceResult Vysledek;
    std::string TextChyby;
};

void Pauza() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

}  // namespace

kv618::Pacing TKonfiguracniOkno::Tempo(bool Zapis) {
    kv618::Pacing tempo;
    QPointer<TKonfiguracniOkno> okno(this);
    tempo.step = [okno, Zapis](int Hotovo, int Celkem) {
        ToWindow(okno, [Zapis, procent = Hotovo * 100 / Celkem](TKonfiguracniOkno* o) {
            if (Zapis) o->StatusZapisu(procent);
            else o->StatusCteni(procent);
        });
    };
    // A write begun is carried out whole: the module never keeps part of it.
    tempo.pause = [zastavit = Zastavit_, Zapis] {
        Pauza();
        return Zapis || !*zastavit;
    };
    tempo.settle = Pauza;
    return tempo;
}

void TKonfiguracniOkno::CtiBlok(kv618::Block Blok, TKonfigurace& Data) {
    Probiha_ = true;
    Zastavit_ = NewStopFlag();
    StatusCteni(0);
    OnWorker(
        this,
        [adresa = PData->Adresa, Blok, data = Data, tempo = Tempo(false)](kv618::Connection& Spojeni) mutable {
            const kv618::Module modul = Spojeni.At(adresa);
            const auto vysledek = kv618::ReadBlock(modul, Blok, data, tempo);
            return TKonecSekvence{data, vysledek, vysledek.error ? modul.Text(vysledek.error) : ""};
        },
        [&Data](TKonfiguracniOkno* okno, const TKonecSekvence& konec) {
            Data = konec.Data;
            if (konec.Vysledek.error != 0) okno->NastavStatus(" " + konec.TextChyby);
            else okno->NastavStatus(QString::fromUtf8(TextPrecteno));
            // The controls show every value read before a failure too.
            okno->ZapisOkno(okno->Pracovni);
            okno->KonecSekvence();
        });
}

void TKonfiguracniOkno::ZapisBlok(kv618::Block Blok, const TKonfigurace& Data) {
    Probiha_ = true;
    Zastavit_ = NewStopFlag();
    StatusZapisu(0);
    QPointer<TKonfiguracniOkno> okno(this);
    LinkWorker::Program().Post([okno, titulek = windowTitle(), adresa = PData->Adresa, Blok, data = Data,
                                tempo = Tempo(true), zapis = ZapisRegistru()](kv618::Connection& Spojeni) {
        const kv618::Module modul = Spojeni.At(adresa);
        const auto vysledek = kv618::WriteBlock(modul, Blok, data, tempo, zapis);
        QString text = QString::fromUtf8(TextZapsano);
        if (vysledek.error != 0) text = " " + QString::fromStdString(modul.Text(vysledek.error));
        else if (vysledek.mismatch) text = " " + QString::fromUtf8(TextChybaZapisu);
        OnWindowsThread([okno, titulek, text] {
            const bool otevreno = okno && !okno->Closed();
            if (otevreno) okno->NastavStatus(text);
            else Report::Program().Tell(titulek, text);
            if (okno) okno->KonecSekvence();
        });
    });
}

void TKonfiguracniOkno::PrectiData(TKonfigurace& Data) {
    if (!JeSpojeni()) return;
    CtiBlok(Blok_, Data);
}

void TKonfiguracniOkno::ZapisData(TKonfigurace Data) {
    if (!JeSpojeni()) return;
    ZapisBlok(Blok_, Data);
}

// --- flow of the buttons ------------------------------------------------

// "Ok" pressed during the sequence is carried out now, unless the window
// was closed meanwhile ("Cancel" after "Ok" leaves TData as it was).
void TKonfiguracniOkno::KonecSekvence() {
    Probiha_ = false;
    const bool ok = OkPoSekvenci_ && !Closed();
    OkPoSekvenci_ = false;
    if (ok) PotvrzeniOkna();
}

void TKonfiguracniOkno::done(int Vysledek) {
    if (Probiha_) *Zastavit_ = true;
    ModuleWindow::done(Vysledek);
}

void TKonfiguracniOkno::ZobrazKonfiguraci() {
    if (!PData) return;
    Pracovni = PData->Konfigurace;
    ZapisOkno(Pracovni);
    NastavStatus(QStringLiteral(" "));
}

void TKonfiguracniOkno::CteniZModulu() {
    if (Probiha_) return;
    if (!HlidejPripojeni()) return;
    PrectiData(Pracovni);
}

void TKonfiguracniOkno::ZapisDoModulu() {
    if (Probiha_) return;
    if (!HlidejPripojeni()) return;
    if (PrectiOkno(Pracovni)) ZapisData(Pracovni);
}

void TKonfiguracniOkno::PotvrzeniOkna() {
    if (Probiha_) {
        OkPoSekvenci_ = true;
        return;
    }
    if (!PData) return;
    if (PrectiOkno(Pracovni)) PData->Konfigurace = Pracovni;
    accept();
}

void TKonfiguracniOkno::ZruseniOkna() { reject(); }
