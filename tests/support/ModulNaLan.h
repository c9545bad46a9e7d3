// Fixture of the window tests: an emulated module reached through the LAN
// converter library on the loopback address, and a program record holding
// the open link as the connection dialog leaves it.
#pragma once

#include "Dekl.h"
#include "Emulator.h"

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace kvtest {

// Lets the connection worker carry out every job handed to it and delivers
// their results (and what those start) to the windows: after a click or a
// tick, the window shows what the exchanges came to.
void DokonciPraci();

class ModulNaLan : public ::testing::Test {
protected:
    void SetUp() override;
    // The emulator's options: one module at address 1 unless a fixture wants more.
    virtual EmulatorOptions MoznostiEmulatoru() const { return {}; }
    void TearDown() override;

    // Requests that reached the module so far.
    uint32_t Pozadavky();
    // Empties the emulator's log of requests.
    void SmazLog();
    // What a status bar shows after a good exchange, and after one that
    // failed with the code.
    QString TextUspechu() const;
    QString TextChybyKodu(int Kod) const;

    template <typename T>
    static T* Prvek(QWidget* Okno, const QString& Jmeno) {
        auto* prvek = Okno->findChild<T*>(Jmeno);
        EXPECT_NE(prvek, nullptr) << Jmeno.toStdString();
        return prvek;
    }
    static QString TextStavu(QWidget* Okno);

    QTemporaryDir Docasna;
    std::unique_ptr<Emulator> Emu;
    TData Data;
    std::string IpAdresa = "127.0.0.1";
};

}  // namespace kvtest
