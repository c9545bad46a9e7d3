// Fixture of the configuration window tests: an emulated module reached
// through the LAN converter library on the loopback address, a program record
// holding the open link as the connection dialog leaves it, and helpers that
// drive a window the way an operator does.
#pragma once

#include "ModulNaLan.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Collects every distinct text the first status panel paints, in order, and
// lets a test act at the moment a given text appears (that is, between two
// exchanges of a running sequence).
class ZaznamStavu : public QObject {
public:
    explicit ZaznamStavu(QWidget* Okno);

    QStringList Texty;
    std::function<void(const QString&)> PriZmene;

protected:
    bool eventFilter(QObject* Objekt, QEvent* Udalost) override;

private:
    QLabel* panel_ = nullptr;
};

class OknoSModulem : public kvtest::ModulNaLan {
protected:
    // The window on the program record, shown and exposed.  `PoZobrazeni`
    // acts between showing and exposing (a test that ticks by hand stops the
    // window's timer there).
    template <typename TOkno>
    std::unique_ptr<TOkno> Otevri(const std::function<void(TOkno&)>& PoZobrazeni = {}) {
        auto okno = std::make_unique<TOkno>();
        okno->PData = &Data;
        okno->show();
        if (PoZobrazeni) PoZobrazeni(*okno);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(okno.get()));
        return okno;
    }
    // One tick of the window's timer, carried out to the end.
    template <typename TOkno>
    static void Tik(TOkno& Okno) {
        Okno.Timer1Timer();
        kvtest::DokonciPraci();
    }
    uint32_t Registr(uint8_t Cislo);
    void NastavRegistr(uint8_t Cislo, uint8_t Hodnota);
    // Requests of the emulator's log since the last SmazLog(), oldest first.
    std::vector<std::string> Log();
    // Every exchange touching the register fails from now on.
    void PoruchaRegistru(uint8_t Cislo);

    // " " + the text of some nonzero error code.
    bool JeTextChyby(const QString& Text) const;

    static void Klikni(QWidget* Okno, const QString& Tlacitko);
    // Clears the edit and types the text into it.
    static void Napis(QWidget* Okno, const QString& Edit, const QString& Text);
    static QString TextEditu(QWidget* Okno, const QString& Edit);
    static bool Zaskrtnuto(QWidget* Okno, int Box);
    // With the link marked closed, "Přečíst" and "Zapsat" of a configuration
    // window say so and send nothing; the link is marked open again after.
    void NicBezSpojeni(QWidget* Okno);
    // Progress texts 0 % .. 100 % with the given steps, then the closing text.
    static QStringList Prubeh(bool Zapis, const std::vector<int>& Procenta);
};

std::string RadekLogu(int Funkce, int Podfunkce, int D0, int D1, int D2, int D3, int D4);
