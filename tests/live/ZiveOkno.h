// Fixture of the live window tests: an emulated module reached through the
// LAN converter library on the loopback address, and a program record that
// holds the open link, as the connection dialog leaves it.
#pragma once

#include "ModulNaLan.h"

#include <QLabel>
#include <QString>
#include <QTemporaryDir>
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
    // "FUNC SUB D0 D1 D2 D3 D4" of the last request.
    std::string Posledni();
    static QString TextPopisku(QWidget* Okno, int Cislo);
};
