// What the three configuration windows (address and baud rate, digital I/O,
// counter pulse numbers) have in common: the working copy of the module's
// configuration, the status bar with its progress and error texts, the
// connection guard, single register exchanges, and the flow of the four
// buttons "Zapsat", "Přečíst", "Ok" and "Cancel".
//
// A read or write sequence processes pending window messages between its
// exchanges so that the window stays painted.  That lets a button press or a
// close request arrive in the middle of a sequence; such requests must not
// start a second sequence inside the first nor destroy the window under it,
// so they are refused (Zapsat, Přečíst) or held back until the sequence has
// ended (Ok, Cancel, close box, Esc).
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "StatusBar.h"
#include "StoredSettings.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

class QPushButton;

inline constexpr const char* TextCteniZacatek = " Probíhá čtení konfigurace z modulu (";
inline constexpr const char* TextZapisuZacatek = " Probíhá zápis konfigurace do modulu (";
inline constexpr const char* TextPrecteno = " Konfigurace přečtena.";
inline constexpr const char* TextZapsano = " Konfigurace zapsána.";
inline constexpr const char* TextChybaZapisu = "Chyba zápisu dat.";

class TKonfiguracniOkno : public QDialog {
    Q_OBJECT
public:
    TData* PData = nullptr;

    // True while a read or write sequence is running.
    bool Probiha() const { return Probiha_; }

    // Close requests (accept, reject, close box, Esc) wait for a running
    // sequence to end.
    void done(int Vysledek) override;

protected:
    TKonfiguracniOkno(QWidget* Owner, const QString& Jmeno, const QString& Titulek, int Sirka, int Vyska);

    virtual void PrectiData(TKonfigurace& Data) = 0;
    virtual void ZapisData(TKonfigurace Data) = 0;
    virtual void PrectiOkno(TKonfigurace& Data) = 0;
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
    bool StatusUspech() const { return Status() == QStringLiteral(" "); }
    void StatusCteni(int Procent);
    void StatusZapisu(int Procent);
    void StatusChyby(uint8_t Kod);

    // Connection guard with its message; the quiet one only answers.
    bool HlidejPripojeni();
    bool JeSpojeni() const { return JePripojeno(PData); }

    // Pending window messages, then a millisecond's pause.
    void Prodleva();

    // The module at TData.Adresa over the link in TData.
    kv618::Module Modul() const;
    // A block of stored settings read into, or written from, the record,
    // with the progress texts, the pauses between the exchanges and the
    // closing text or error in the status bar.
    void CtiBlok(kv618::Block Blok, TKonfigurace& Data);
    void ZapisBlok(kv618::Block Blok, const TKonfigurace& Data);

    QPushButton* VytvorTlacitko(const QString& Jmeno, const QString& Text, int X, int Y, int Sirka = 75,
                                int Vyska = 25);

    void showEvent(QShowEvent* Udalost) override;
    virtual void FormShow() { ZobrazKonfiguraci(); }

    TKonfigurace Pracovni{};
    TStatusBar* StatusBar1 = nullptr;

private:
    enum class TOdlozeno { Nic, Ok, Zavrit };

    // Runs one sequence unless another one is running; afterwards carries
    // out a close or "Ok" that arrived meanwhile.
    template <class F>
    void Sekvence(F Akce);
    void ProvedOdlozene();

    bool Probiha_ = false;
    TOdlozeno Odlozeno_ = TOdlozeno::Nic;
    int OdlozenyVysledek_ = QDialog::Rejected;
};
