// Fixture of the tools' windows: the emulator with a bus of modules (or the
// one module of the window tests), the program record holding the link to
// the module at address 1 as the connection dialog leaves it, and what an
// operator does to the windows.
#pragma once

#include "ModulNaLan.h"

#include <QString>

#include <string>
#include <vector>

class QAbstractButton;
class QDialog;
class QLineEdit;

namespace kvtest {

class NaLince : public ModulNaLan {
protected:
    // "ADDRESS[:BAUD]" each; empty: the one module at address 1.
    virtual std::vector<std::string> Moduly() const { return {}; }
    EmulatorOptions MoznostiEmulatoru() const override;

    // A click carried out to the end: the worker's jobs done, their results shown.
    static void Klikni(QAbstractButton* Tlacitko);
    static void Napis(QLineEdit* Pole, const QString& Text);
    // The window on the program record, shown.
    void Ukaz(QDialog& Okno);

    // A file in the test's folder.
    std::string Soubor(const std::string& Jmeno) const;
    // kv618 with the link options of the emulator's LAN converter and the
    // module's address: its exit status and standard output (standard error
    // dropped).
    std::pair<int, std::string> Kv618(int Adresa, const std::string& Prikaz) const;
    // A configuration register of the module at `Adresa`, as the emulator holds it.
    uint32_t Registr(int Adresa, int Reg);
    void NastavRegistr(int Adresa, int Reg, uint32_t Hodnota);
};

}  // namespace kvtest
