// Fixture of the live window tests: an emulated module reached through the
// LAN converter library on the loopback address, and a program record that
// holds the open link, as the connection dialog leaves it.
#pragma once

#include "Dekl.h"
#include "Emulator.h"

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

class ZiveOkno : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Requests that reached the module so far.
    uint32_t Pozadavky();
    // "FUNC SUB D0 D1 D2 D3 D4" of the last request.
    std::string Posledni();
    // What the status bar shows after a good exchange.
    QString TextUspechu() const;
    // What the status bar shows after an exchange that failed with the code.
    QString TextChybyKodu(int Kod) const;

    template <typename T>
    static T* Prvek(QWidget* Okno, const QString& Jmeno) {
        auto* prvek = Okno->findChild<T*>(Jmeno);
        EXPECT_NE(prvek, nullptr) << Jmeno.toStdString();
        return prvek;
    }
    static QString TextPopisku(QWidget* Okno, int Cislo);
    static QString TextStavu(QWidget* Okno);

    QTemporaryDir Docasna;
    std::unique_ptr<kvtest::Emulator> Emu;
    TData Data;
    std::string IpAdresa = "127.0.0.1";
};
