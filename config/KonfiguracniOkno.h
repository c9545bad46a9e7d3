// What the three configuration windows (address and baud rate, digital I/O,
// counter pulse numbers) have in common: the working copy of the module's
// configuration, the status bar with its progress and error texts, the
// connection guard, the block sequences, and the four buttons "Zapsat",
// "Přečíst", "Ok" and "Cancel" with their handlers.
//
// A read or write sequence runs on the connection worker; the window shows
// its progress as it goes and stays free meanwhile.  While it runs, "Zapsat"
// and "Přečíst" start nothing, and "Ok" waits for its end (it stores what
// the sequence read or the operator typed, as when pressed after it).  The
// close box, Escape and "Cancel" close the window at once: a read stops after
// the exchange in flight, a write goes on to its end, every register written
// and read back, and its closing text goes to the program's report
// (Report.h), as the window is no longer there to show it.
#pragma once

#include "Dekl.h"
#include "LinkWorker.h"
#include "ModuleWindow.h"
#include "StatusBar.h"
#include "StoredSettings.h"

#include <QString>
#include <cstdint>
#include <string>

class QPushButton;

inline constexpr const char* TextCteniZacatek = " Probíhá čtení konfigurace z modulu (";
inline constexpr const char* TextZapisuZacatek = " Probíhá zápis konfigurace do modulu (";
inline constexpr const char* TextPrecteno = " Konfigurace přečtena.";
inline constexpr const char* TextZapsano = " Konfigurace zapsána.";
inline constexpr const char* TextChybaZapisu = "Chyba zápisu dat.";

class TKonfiguracniOkno : public ModuleWindow {
    Q_OBJECT
public:
    // True while a read or write sequence is running.
    bool Probiha() const { return Probiha_; }

    // Closing stops a running read after the exchange in flight.
    void done(int Vysledek) override;

    void FormShow() override { ZobrazKonfiguraci(); }

public slots:
    void Button1Click();  // "Zapsat"
    void Button2Click();  // "Přečíst"
    void Button3Click();  // "Ok"
    void Button4Click();  // "Cancel"

protected:
    // `Blok`: the stored settings the window reads and writes.
    TKonfiguracniOkno(QWidget* Owner, const QString& Jmeno, const QString& Titulek, int Sirka, int Vyska,
                      kv618::Block Blok);

    // The window's block read into the record (which must be the window's
    // own: it is filled when the sequence ends), or written from it.
    virtual void PrectiData(TKonfigurace& Data);
    virtual void ZapisData(TKonfigurace Data);
    // Controls to record: true when every value was valid (the status bar
    // then shows " "), false with the refusal shown.
    virtual bool PrectiOkno(TKonfigurace& Data) = 0;
    virtual void ZapisOkno(TKonfigurace Data) = 0;

    // The flows the windows' own handlers delegate to.
    void ZobrazKonfiguraci();   // FormShow
    void ZapisDoModulu();       // "Zapsat"
    void CteniZModulu();        // "Přečíst"
    void PotvrzeniOkna();       // "Ok"
    void ZruseniOkna();         // "Cancel"

    // Status bar, panel 0.
    void NastavStatus(const QString& Text);
    void NastavStatus(const std::string& Text) { NastavStatus(QString::fromStdString(Text)); }
    QString Status() const;
    void StatusCteni(int Procent);
    void StatusZapisu(int Procent);
    // Refused values: the text, and false to give back from PrectiOkno.
    bool Odmitni(const char* Text);
    // Accepted values: the neutral " ", and true.
    bool Prijmi();

    // Connection guard with its message; the quiet one only answers.
    bool HlidejPripojeni();
    bool JeSpojeni() const { return JePripojeno(PData); }

    // A block of stored settings read into the record (which must be the
    // window's own: it is filled when the sequence ends), or written from it,
    // on the connection worker, with the progress texts and the closing text
    // or error in the status bar.
    void CtiBlok(kv618::Block Blok, TKonfigurace& Data);
    void ZapisBlok(kv618::Block Blok, const TKonfigurace& Data);
    // How ZapisBlok writes one register on the worker: empty for the module
    // layer's checked write.
    virtual kv618::RegisterWrite ZapisRegistru() const { return {}; }

    // "Zapsat", "Přečíst", "Ok" and "Cancel" (Button1-Button4) in a row from
    // X, each `Sirka` wide and `Krok` after the one before.
    void VytvorTlacitka(int X, int Y, int Sirka, int Krok);

    TKonfigurace Pracovni{};
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;

private:
    // The sequence's pacing on the worker: a millisecond's pause between the
    // exchanges, and for a read a stop once the window has closed.
    kv618::Pacing Tempo(bool Zapis);
    void KonecSekvence();

    kv618::Block Blok_;
    bool Probiha_ = false;
    bool OkPoSekvenci_ = false;
    StopFlag Zastavit_;
};
