// What the connection dialog's tests share: the dialog shown on its own,
// driven through its controls, with the real interface libraries and the
// emulator.
#pragma once

#include "Emulator.h"
#include "ModulNaLan.h"
#include "Obsluha.h"
#include "Pripojeni.h"
#include "Qxxx726.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdlib.h>
#include <vector>

namespace pripojenitest {

using obsluha::Klikni;
using obsluha::Napis;
using obsluha::Zvol;


inline const QString TextUspechu = "Připojení úspěšně inicializováno. Připojen modul   ";
// What the emulated module answers to the three identification requests.
inline const std::string IdentEmulatoru = "KV-618   v.1.04";

class Pripojeni : public ::testing::Test {
protected:
    void SetUp() override {
        NastavCestuNastaveni(slozka.Soubor("R_iv618.ini"));
        InicializujData(&Data);
    }

    void TearDown() override {
        kvtest::DokonciPraci();
        okno.reset();
        if (JePripojeno(&Data)) UkonciRozhrani(Data.Rozhrani, &Data.Handle);
        NastavSlozkuKnihoven("");
        NastavCestuNastaveni("");
        ::unsetenv("QCOM726_COM1");
        ::unsetenv("KV618_CARD_DIR");
    }

    TForm2* Otevri() {
        okno = std::make_unique<TForm2>();
        okno->PData = &Data;
        okno->show();
        return okno.get();
    }

    template <typename T>
    T* Prvek(const char* Jmeno) const {
        T* prvek = okno->findChild<T*>(Jmeno);
        EXPECT_NE(prvek, nullptr) << Jmeno;
        return prvek;
    }
    QComboBox* Seznam(const char* Jmeno) const { return Prvek<QComboBox>(Jmeno); }
    QLineEdit* Pole(const char* Jmeno) const { return Prvek<QLineEdit>(Jmeno); }
    QLabel* Popisek(const char* Jmeno) const { return Prvek<QLabel>(Jmeno); }
    QString Panel() const { return Popisek("Panel1")->text(); }
    void Inicializace() const { Klikni(Prvek<QPushButton>("Button1")); }

    void ZadejLAN(uint16_t Port, const QString& Adresa = "1", const QString& Timeout = "200") const {
        Zvol(Seznam("ComboBox2"), RozhraniKV1726);
        Napis(Pole("Edit2"), "127.0.0.1");
        Napis(Pole("Edit3"), QString::number(Port));
        Napis(Pole("Edit4"), Timeout);
        Napis(Pole("Edit1"), Adresa);
    }

    // A library's own text for a code, read while it is bound.
    std::string TextKnihovnyLAN(int32_t Kod) {
        int32_t handle = 0;
        TInitParametry parametry{};
        const std::string ip = "127.0.0.1";
        parametry[0] = reinterpret_cast<intptr_t>(ip.c_str());
        parametry[1] = 9;  // nothing is sent by _Init and _Error
        parametry[2] = 200;
        EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, parametry), 0);
        const std::string text = TextKodu(RozhraniKV1726, Kod);
        UkonciRozhrani(RozhraniKV1726, &handle);
        return text;
    }

    obsluha::TDocasnaSlozka slozka;
    TData Data;
    std::unique_ptr<TForm2> okno;
};

// Requests the emulated module received, each "FUNC SUB D0 D1 D2 D3 D4".
inline std::vector<std::string> Pozadavky(kvtest::Emulator& Emulator) {
    std::vector<std::string> seznam;
    std::stringstream log(Emulator.command("get log"));
    for (std::string polozka; std::getline(log, polozka, ';');) {
        if (!polozka.empty()) seznam.push_back(polozka);
    }
    return seznam;
}

}  // namespace pripojenitest
