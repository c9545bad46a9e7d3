// Fixture of the live window tests: an emulated module reached through the
// LAN converter library on the loopback address, and a program record that
// holds the open link, as the connection dialog leaves it.
#pragma once

#include "ModulNaLan.h"

#include <QLabel>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

// Codes of the interface library for a request the module never answered and
// for one it refused.
inline constexpr int BezOdpovedi = 1;
inline constexpr int Odmitnuto = 5;

class ZiveOkno : public kvtest::ModulNaLan {
protected:
    // One tick of the window's timer, carried out to the end.
    template <typename TOkno>
    static void Tik(TOkno& Okno) {
        Okno.Timer1Timer();
        kvtest::DokonciPraci();
    }
    // The window on the program record, shown; its timer polls.
    template <typename TOkno>
    void Ukaz(TOkno& Okno) {
        Okno.PData = &Data;
        Okno.show();
    }
    // The window on the program record, shown, ticked by hand only.
    template <typename TOkno>
    void UkazBezCasovace(TOkno& Okno) {
        Ukaz(Okno);
        Okno.template findChild<QTimer*>("Timer1")->stop();
    }
    // The window's name and caption; its size is fixed.
    static void OverOkno(QWidget* Okno, const QString& Jmeno, const QString& Titulek);
    // A click carried out to the end.
    static void Stiskni(QWidget* Okno, const QString& Tlacitko);
    // Sets what the emulator's "set CO" sets and checks it took.
    void Nastav(const std::string& Co, uint32_t Hodnota);
    // "FUNC SUB D0 D1 D2 D3 D4" of the last request.
    std::string Posledni();
    static QString TextPopisku(QWidget* Okno, int Cislo);
    // Value labels Label33..Label64, each "0" or "1", read as one 32-bit
    // number, the first lowest.
    static uint32_t Bity(QWidget* Okno);
    // Panels Panel1..PanelN are sunken.
    static void OverPanely(QWidget* Okno, int Pocet);
    static void OverCasovac(QWidget* Okno, bool Bezi, int Interval);
};
