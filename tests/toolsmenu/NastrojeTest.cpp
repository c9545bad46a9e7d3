// The tools' menu of the main window, and the whole way a newcomer takes
// with it: two modules at unknown addresses and rates found on the
// emulator's bus, one connected to, its settings backed up and restored
// into the other after the difference was seen, a trend of its inputs and
// counters watched, and a log of them written as kv618 watch writes it.
#include "NaLince.h"
#include "Obsluha.h"

#include "BackupWindow.h"
#include "Hlavni.h"
#include "LogWindow.h"
#include "ScanWindow.h"
#include "StatusBar.h"
#include "TestFiles.h"
#include "TrendWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <fstream>

namespace {

using kvtest::DokonciPraci;
using obsluha::VModalnimOkne;

class Nastroje : public kvtest::NaLince {
protected:
    std::vector<std::string> Moduly() const override { return {"7:19200", "23:57600"}; }

    // The settings file an earlier run left: the LAN converter at the
    // emulator, but a module the operator does not know.
    void SetUp() override {
        NaLince::SetUp();
        std::ofstream(Docasna.filePath("R_iv618.ini").toStdString())
            << "[P\xF8ipojen\xED]\r\nRozhran\xED=KV-1726\r\nAdresa=1\r\nRychlost=9600\r\n"
               "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port="
            << Emu->udpPort() << "\r\nUDP timeout=200\r\n";
    }

    // The item of the tools' menu, clicked as an operator clicks it.
    static void KlikniNastroj(TForm1& Okno, QAction* Polozka) {
        obsluha::VyberZMenu(Okno.MainMenu1, Okno.Nastroje1, Polozka);
    }

    // Finds the modules of addresses 0-31 and connects to the one at `Adresa`.
    void NajdiAPripoj(TForm1& Okno, int Adresa) {
        VModalnimOkne([&](QWidget* dialog) {
            auto* okno = qobject_cast<ScanWindow*>(dialog);
            ASSERT_NE(okno, nullptr);
            okno->Last->setValue(31);
            // The rates from 4800 Bd up: the slow three would take half a minute more.
            for (size_t i = 0; i < okno->Rates.size(); ++i) okno->Rates[i]->setChecked(wire::BaudRates[i] >= 4800);
            Klikni(okno->ScanButton);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !okno->Scanning(); }, 60'000));
            ASSERT_EQ(okno->Found->rowCount(), 2) << TextStavu(okno).toStdString();
            for (int r = 0; r < okno->Found->rowCount(); ++r)
                if (okno->Found->item(r, 0)->text() == QString::number(Adresa)) okno->Found->selectRow(r);
            Klikni(okno->ConnectButton);
            EXPECT_TRUE(TextStavu(okno).startsWith(" Připojen modul ")) << TextStavu(okno).toStdString();
            okno->close();
        });
        KlikniNastroj(Okno, Okno.HledaniModulu1);
    }
};

TEST_F(Nastroje, TheToolsMenuStandsBeforeKonecAndOpensItsWindows) {
    TForm1 okno;
    okno.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&okno));
    EXPECT_EQ(okno.Nastroje1->title(), "Ná&stroje");
    QStringList polozky;
    for (QAction* a : okno.Nastroje1->actions()) polozky << a->objectName() + " " + a->text();
    EXPECT_EQ(polozky, (QStringList{"HledaniModulu1 Vyhledání modulů", "ZalohaNastaveni1 Záloha a obnova nastavení",
                                    "PrubehHodnot1 Průběh hodnot", "ZaznamDoSouboru1 Záznam do souboru"}));
    const std::vector<std::pair<QAction*, QString>> okna = {{okno.HledaniModulu1, "Vyhledání modulů na lince"},
                                                            {okno.ZalohaNastaveni1, "Záloha a obnova nastavení modulu"},
                                                            {okno.PrubehHodnot1, "Průběh vstupů a čítačů"},
                                                            {okno.ZaznamDoSouboru1, "Záznam hodnot do souboru"}};
    for (const auto& [polozka, titulek] : okna) {
        bool otevreno = false;
        VModalnimOkne([&](QWidget* dialog) {
            otevreno = true;
            EXPECT_EQ(dialog->windowTitle(), titulek);
            EXPECT_EQ(dialog->parent(), &okno);
            dialog->close();
        });
        KlikniNastroj(okno, polozka);
        EXPECT_TRUE(otevreno) << titulek.toStdString();
    }
}

TEST_F(Nastroje, ANewcomerFindsBacksUpRestoresWatchesAndLogs) {
    // Module 7 is set up as the plant needs it; module 23 is a replacement
    // fresh from the box.
    for (const int r : {0x21, 0x24, 0x27, 0x2A}) NastavRegistr(7, r, 0x3C);
    ASSERT_EQ(Emu->command("at 23 set inputs 0x00FF00FF"), "ok");
    ASSERT_EQ(Emu->command("at 23 set counter 0 99"), "ok");
    TForm1 okno;
    okno.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&okno));

    // Found and connected to: the status bar names it as after the connection dialog.
    NajdiAPripoj(okno, 7);
    EXPECT_TRUE(okno.StatusBar1->Text(0).startsWith(" Modul  KV-618")) << okno.StatusBar1->Text(0).toStdString();
    EXPECT_EQ(okno.StatusBar1->Text(1), " Adresa  7");
    EXPECT_EQ(okno.StatusBar1->Text(2), " Rychlost  19200Bd");

    // Its settings backed up.
    const std::string zaloha = Soubor("modul7.txt");
    VModalnimOkne([&](QWidget* dialog) {
        auto* okno7 = qobject_cast<BackupWindow*>(dialog);
        ASSERT_NE(okno7, nullptr);
        Napis(okno7->FileField, QString::fromStdString(zaloha));
        Klikni(okno7->SaveButton);
        EXPECT_TRUE(TextStavu(okno7).startsWith(" Nastavení modulu")) << TextStavu(okno7).toStdString();
        okno7->close();
    });
    KlikniNastroj(okno, okno.ZalohaNastaveni1);
    EXPECT_NE(kvtest::ReadFile(zaloha).find("input-negation = 0x3C3C3C3C"), std::string::npos);

    // Restored into the other module after the difference was seen.
    NajdiAPripoj(okno, 23);
    EXPECT_EQ(okno.StatusBar1->Text(1), " Adresa  23");
    VModalnimOkne([&](QWidget* dialog) {
        auto* okno23 = qobject_cast<BackupWindow*>(dialog);
        ASSERT_NE(okno23, nullptr);
        Napis(okno23->FileField, QString::fromStdString(zaloha));
        Klikni(okno23->CompareButton);
        bool negace = false;
        for (int r = 0; r < okno23->Changes->rowCount(); ++r)
            negace = negace || (okno23->Changes->item(r, 0)->text() == "Negace DIN" &&
                                okno23->Changes->item(r, 3)->text() == "0x3C3C3C3C");
        EXPECT_TRUE(negace) << "the difference is shown before anything is written";
        EXPECT_EQ(Registr(23, 0x21), 0xFFu);
        Klikni(okno23->RestoreButton);
        EXPECT_EQ(TextStavu(okno23), " Zapsáno a ověřeno čtením: 1 nastavení.");
        okno23->close();
    });
    KlikniNastroj(okno, okno.ZalohaNastaveni1);
    for (const int r : {0x21, 0x24, 0x27, 0x2A}) EXPECT_EQ(Registr(23, r), 0x3Cu) << r;
    EXPECT_EQ(Registr(23, 0x3F), 23u) << "its own address stays";

    // A trend of its inputs and counters.
    VModalnimOkne([&](QWidget* dialog) {
        auto* trend = qobject_cast<TrendWindow*>(dialog);
        ASSERT_NE(trend, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return trend->History().Entries().size() >= 3; }, 10'000));
        EXPECT_EQ(trend->History().Entries().back().sample.inputs, Emu->value("at 23 get inputs"));
        EXPECT_EQ(trend->History().Entries().back().sample.counters[0][0], 99u);
        trend->close();
    });
    KlikniNastroj(okno, okno.PrubehHodnot1);

    // And a log of them, as kv618 watch writes it.
    const std::string log = Soubor("log.csv");
    VModalnimOkne([&](QWidget* dialog) {
        auto* zaznam = qobject_cast<LogWindow*>(dialog);
        ASSERT_NE(zaznam, nullptr);
        Napis(zaznam->FileField, QString::fromStdString(log));
        zaznam->Interval->setValue(100);
        Klikni(zaznam->StartButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return zaznam->Lines() >= 3; }, 10'000));
        Klikni(zaznam->StartButton);
        zaznam->close();
    });
    KlikniNastroj(okno, okno.ZaznamDoSouboru1);
    const auto [stav, kv618] = Kv618(23, "--baud 57600 watch all --count 1 --format csv");
    ASSERT_EQ(stav, 0) << kv618;
    std::istringstream okna(kvtest::ReadFile(log)), nastroj(kv618);
    std::string hlavicka, radek, hlavickaKv618, radekKv618;
    std::getline(okna, hlavicka);
    std::getline(nastroj, hlavickaKv618);
    std::getline(nastroj, radekKv618);
    EXPECT_EQ(hlavicka, hlavickaKv618);
    int radku = 0;
    while (std::getline(okna, radek)) {
        ++radku;
        EXPECT_EQ(radek.substr(radek.find(',')), radekKv618.substr(radekKv618.find(','))) << radek;
    }
    EXPECT_GE(radku, 3);
    okno.close();
}

}  // namespace
