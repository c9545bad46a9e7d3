// The main window: its menu, status bar, the dialogs it opens, and what it
// does at the end of the run (settings file, link).
#include "Citac619.h"
#include "Emulator.h"
#include "Hlavni.h"
#include "LinkWorker.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "Obsluha.h"
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Pripojeni.h"
#include "Qxxx726.h"
#include "RTC.h"
#include "Report.h"
#include "StatReg.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <new>
#include <optional>

using obsluha::Klikni;
using obsluha::VModalnimOkne;

namespace {
// Set by a test to make the next allocation of a program record fail.
bool ZadneMistoProData = false;
}  // namespace

void* operator new(std::size_t Velikost, const std::nothrow_t&) noexcept {
    if (ZadneMistoProData && Velikost == sizeof(TData)) {
        ZadneMistoProData = false;
        return nullptr;
    }
    try {
        return ::operator new(Velikost);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const std::string IdentEmulatoru = "KV-618   v.1.04";

std::string Cp1250(std::string_view Utf8Text);

class Hlavni : public ::testing::Test {
protected:
    void SetUp() override { NastavCestuNastaveni(Nastaveni()); }
    void TearDown() override {
        NastavCestuNastaveni("");
        NastavSlozkuKnihoven("");
    }

    std::string Nastaveni() const { return slozka.Soubor("R_iv618.ini"); }

    // The settings file of the LAN converter at the emulator, as an operator's
    // earlier run left it.
    std::string NastaveniLAN(uint16_t Port) const {
        return "[P\xF8ipojen\xED]\r\nRozhran\xED=KV-1726\r\nAdresa=1\r\nRychlost=19200\r\n"
               "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=" +
               std::to_string(Port) + "\r\nUDP timeout=200\r\n";
    }

    static void Ukaz(TForm1& Okno) {
        Okno.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Okno));
    }

    // "Připojení" from the menu: the address typed first when one is given,
    // then "Připojit" and closing the dialog.
    static void Pripoj(TForm1& Okno, const QString& Adresa = {}) {
        VModalnimOkne([&](QWidget* dialog) {
            if (!Adresa.isEmpty()) obsluha::Napis(dialog->findChild<QLineEdit*>("Edit1"), Adresa);
            Klikni(dialog->findChild<QPushButton*>("Button1"));
            Klikni(dialog->findChild<QPushButton*>("Button2"));
        });
        KlikniMenu(Okno, Okno.Pipojen1);
    }

    // A click on a top-level item of the menu bar, or an item of a submenu.
    static void KlikniMenu(TForm1& Okno, QAction* Polozka) {
        ASSERT_NE(Polozka, nullptr);
        QMenuBar* lista = Okno.MainMenu1;
        for (QMenu* menu : {Okno.Nastaven1, Okno.Okamithodnoty1})
            if (menu->actions().contains(Polozka)) return obsluha::VyberZMenu(lista, menu, Polozka);
        QTest::mouseClick(lista, Qt::LeftButton, {}, lista->actionGeometry(Polozka).center());
    }

    static QString TextPanelu(const TForm1& Okno, int Panel) { return Okno.StatusBar1->Text(Panel); }

    // The panel is wide enough for its whole text, and not narrower than designed.
    static void CelyTextVidet(const TForm1& Okno, int Panel, int SirkaNavrhu) {
        const auto* panel = Okno.StatusBar1->findChild<QLabel*>(QString("StatusBar1_Panel%1").arg(Panel));
        ASSERT_NE(panel, nullptr);
        EXPECT_GE(panel->width(), panel->sizeHint().width()) << panel->text().toStdString();
        EXPECT_GE(panel->width(), SirkaNavrhu) << Panel;
    }

    obsluha::TDocasnaSlozka slozka;
};

TEST_F(Hlavni, HasItsCaptionMenuTreeAndStartPanels) {
    TForm1 okno;
    Ukaz(okno);
    EXPECT_EQ(okno.windowTitle(), "KV-618 (v.1.04) -  nastavení modulu");
    EXPECT_EQ(okno.size(), QSize(600, 400));

    QMenuBar* lista = okno.findChild<QMenuBar*>("MainMenu1");
    ASSERT_NE(lista, nullptr);
    QStringList horni;
    for (QAction* a : lista->actions()) horni << (a->menu() ? a->menu()->objectName() : a->objectName()) + " " + a->text();
    // The tools' menu, which the design does not have, stands before "Konec" (toolsmenu/).
    EXPECT_EQ(horni, (QStringList{"Pipojen1 &Připojení", "Nastaven1 &Nastavení", "Okamithodnoty1 &Okamžité hodnoty",
                                  "Nastroje1 Ná&stroje", "Konec2 &Konec"}));
    EXPECT_EQ(okno.findChild<QAction*>("Pipojen1")->menu(), nullptr) << "acts directly";
    EXPECT_EQ(okno.findChild<QAction*>("Konec2")->menu(), nullptr) << "acts directly";

    const auto polozky = [&](const char* menu) {
        QStringList texty;
        for (QAction* a : okno.findChild<QMenu*>(menu)->actions()) texty << a->objectName() + " " + a->text();
        return texty;
    };
    EXPECT_EQ(polozky("Nastaven1"), (QStringList{"AdresaRychlost1 Adresa, rychlost", "NastavAIN1 Čítače KV-619",
                                                 "HodinovobvodRTC1 Hodinový obvod RTC",
                                                 "NastavDIO1 Digitální vstupy/výstupy"}));
    EXPECT_EQ(polozky("Okamithodnoty1"), (QStringList{"OkamAIN2 Čítače", "OkamDIN2 Digitální vstupy",
                                                      "OkamDOUT1 Digitální výstupy", "Statusregistr1 Status registr"}));
    for (QAction* a : okno.findChildren<QAction*>()) EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();

    TStatusBar* radek = okno.findChild<TStatusBar*>("StatusBar1");
    ASSERT_NE(radek, nullptr);
    ASSERT_EQ(radek->PocetPanelu(), 4);
    const std::vector<std::pair<QString, int>> panely = {{" Modul", 140}, {" Adresa", 80}, {" Rychlost", 120}, {"", 50}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(radek->Text(i), panely[i].first) << i;
        EXPECT_EQ(radek->findChild<QLabel*>(QString("StatusBar1_Panel%1").arg(i))->width(), panely[i].second) << i;
    }
}

TEST_F(Hlavni, StartsFromDefaultsOverlaidByTheSettingsFile) {
    {
        TForm1 okno;
        ASSERT_NE(okno.Data(), nullptr);
        EXPECT_EQ(okno.Data()->Rozhrani, RozhraniCOM);
        EXPECT_EQ(okno.Data()->IPAdresa, "192.168.0.99");
        EXPECT_EQ(okno.Data()->Status, "Připojení modulu dosud neinicializováno");
        EXPECT_EQ(okno.Data()->Pripojeno, 0);
        EXPECT_EQ(okno.Data()->Handle, 0);
    }
    obsluha::ZapisSoubor(Nastaveni(), NastaveniLAN(5123));
    TForm1 okno;
    ASSERT_NE(okno.Data(), nullptr);
    EXPECT_EQ(okno.Data()->Rozhrani, RozhraniKV1726);
    EXPECT_EQ(okno.Data()->Adresa, 1);
    EXPECT_EQ(okno.Data()->Rychlost, 19200);
    EXPECT_EQ(okno.Data()->IPAdresa, "127.0.0.1");
    EXPECT_EQ(okno.Data()->UDPPort, 5123);
    EXPECT_EQ(TextPanelu(okno, 0), " Modul") << "panels change only after the connection dialog";
}

TEST_F(Hlavni, CancelledConnectionDialogStillRefreshesThePanels) {
    TForm1 okno;
    Ukaz(okno);
    QString uvodniText;
    VModalnimOkne([&](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "Form2");
        uvodniText = dialog->findChild<QLabel*>("Panel1")->text();
        Klikni(dialog->findChild<QPushButton*>("Button2"));
    });
    KlikniMenu(okno, okno.Pipojen1);

    EXPECT_EQ(uvodniText, "Připojení modulu dosud neinicializováno");
    EXPECT_EQ(TextPanelu(okno, 0), " Modul  ");
    EXPECT_EQ(TextPanelu(okno, 1), " Adresa  0");
    EXPECT_EQ(TextPanelu(okno, 2), " Rychlost  9600Bd");
    EXPECT_EQ(TextPanelu(okno, 3), "");
    EXPECT_TRUE(okno.findChildren<TForm2*>().isEmpty()) << "the dialog is destroyed after use";
}

TEST_F(Hlavni, PanelsShowTheLongestIdentificationAddressAndSpeedWhole) {
    TForm1 okno;
    Ukaz(okno);
    okno.Data()->IdentModulu = "ABCDEFGHIJKL v.1.04";
    okno.Data()->Adresa = 255;
    okno.Data()->Rychlost = 115200;
    VModalnimOkne([&](QWidget* dialog) { Klikni(dialog->findChild<QPushButton*>("Button2")); });
    KlikniMenu(okno, okno.Pipojen1);

    EXPECT_EQ(TextPanelu(okno, 0), " Modul  ABCDEFGHIJKL v.1.04");
    EXPECT_EQ(TextPanelu(okno, 1), " Adresa  255");
    EXPECT_EQ(TextPanelu(okno, 2), " Rychlost  115200Bd");
    CelyTextVidet(okno, 0, 140);
    CelyTextVidet(okno, 1, 80);
    CelyTextVidet(okno, 2, 120);
    const auto* posledni = okno.StatusBar1->findChild<QLabel*>("StatusBar1_Panel3");
    EXPECT_LE(posledni->geometry().right(), okno.StatusBar1->width()) << "all four panels stay in the window";
}

TEST_F(Hlavni, ConnectingShowsTheModuleAndClosingSavesAndClosesTheLinkOnce) {
    kvtest::Emulator emulator{kvtest::ModulesOnLine({"1:19200"})};  // the rate of NastaveniLAN
    obsluha::ZapisSoubor(Nastaveni(), NastaveniLAN(emulator.udpPort()));
    TForm1 okno;
    Ukaz(okno);
    VModalnimOkne([&](QWidget* dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit*>("Edit3")->text().toStdString(), std::to_string(emulator.udpPort()));
        Klikni(dialog->findChild<QPushButton*>("Button1"));
        EXPECT_EQ(dialog->findChild<QLabel*>("Panel1")->text().toStdString(),
                  "Připojení úspěšně inicializováno. Připojen modul   " + IdentEmulatoru);
        Klikni(dialog->findChild<QPushButton*>("Button2"));
    });
    KlikniMenu(okno, okno.Pipojen1);

    EXPECT_EQ(TextPanelu(okno, 0).toStdString(), " Modul  " + IdentEmulatoru);
    EXPECT_EQ(TextPanelu(okno, 1), " Adresa  1");
    EXPECT_EQ(TextPanelu(okno, 2), " Rychlost  19200Bd");
    CelyTextVidet(okno, 0, 140);
    CelyTextVidet(okno, 1, 80);
    CelyTextVidet(okno, 2, 120);
    ASSERT_TRUE(JePripojeno(okno.Data()));
    ASSERT_TRUE(JeKnihovnaNactena());

    // A failed attempt leaves the last identification, address and speed shown.
    Pripoj(okno, "2");
    EXPECT_EQ(TextPanelu(okno, 0).toStdString(), " Modul  " + IdentEmulatoru);
    EXPECT_EQ(TextPanelu(okno, 1), " Adresa  1");
    EXPECT_FALSE(JePripojeno(okno.Data()));

    Pripoj(okno, "1");
    ASSERT_TRUE(JePripojeno(okno.Data()));

    // The identification went through the link, which stays open until the end.
    const uint32_t pozadavky = emulator.value("get requests");
    EXPECT_GE(pozadavky, 6u);

    std::remove(Nastaveni().c_str());
    KlikniMenu(okno, okno.Konec2);
    EXPECT_FALSE(okno.isVisible());
    EXPECT_EQ(okno.Data(), nullptr);
    EXPECT_FALSE(JeKnihovnaNactena()) << "_Done called and the library unloaded";
    EXPECT_EQ(obsluha::CtiSoubor(Nastaveni()), NastaveniLAN(emulator.udpPort()));

    // A second close finds nothing left to save or close.
    std::remove(Nastaveni().c_str());
    okno.close();
    EXPECT_FALSE(obsluha::Existuje(Nastaveni()));
    EXPECT_EQ(emulator.value("get requests"), pozadavky);
}

TEST_F(Hlavni, ClosingWithoutEverConnectingWritesTheSettingsInWindows1250) {
    TForm1 okno;
    Ukaz(okno);
    okno.close();  // as the window's close box does
    EXPECT_FALSE(okno.isVisible());
    const std::string bajty = obsluha::CtiSoubor(Nastaveni());
    EXPECT_EQ(bajty.substr(0, 11), "\x5B\x50\xF8\x69\x70\x6F\x6A\x65\x6E\xED\x5D");
    EXPECT_EQ(bajty, Cp1250("[Připojení]\r\nRozhraní=COMx\r\nAdresa=0\r\nRychlost=9600\r\n[COMx]\r\nČíslo portu=1\r\n"));
}

TEST_F(Hlavni, SettingsFileThatCannotBeWrittenIsReportedAndTheLinkIsClosedAllTheSame) {
    kvtest::Emulator emulator{kvtest::ModulesOnLine({"1:19200"})};  // the rate of NastaveniLAN
    obsluha::ZapisSoubor(Nastaveni(), NastaveniLAN(emulator.udpPort()));
    TForm1 okno;
    Ukaz(okno);
    Pripoj(okno);
    ASSERT_TRUE(JePripojeno(okno.Data()));

    const std::string nelze = slozka.Soubor("chybi/R_iv618.ini");
    NastavCestuNastaveni(nelze);
    bool zprava = false;
    VModalnimOkne([&](QWidget* dialog) {
        zprava = true;
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "KV-618 (v.1.04) -  nastavení modulu");
        EXPECT_TRUE(box->text().contains(QString::fromStdString(nelze))) << box->text().toStdString();
        EXPECT_TRUE(box->text().contains("No such file or directory")) << "the reason";
        EXPECT_FALSE(JeKnihovnaNactena()) << "the link is closed before the operator is asked";
        box->accept();
    });
    okno.close();
    EXPECT_TRUE(zprava) << "the operator is told before the program ends";
    EXPECT_FALSE(okno.isVisible());
    EXPECT_EQ(okno.Data(), nullptr);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_TRUE(TextPanelu(okno, 3).startsWith(" ")) << TextPanelu(okno, 3).toStdString();
    EXPECT_TRUE(TextPanelu(okno, 3).contains(QString::fromStdString(nelze))) << TextPanelu(okno, 3).toStdString();
}

TEST_F(Hlavni, EveryMenuCommandOpensItsOwnWindowWithTheRecordAndDestroysIt) {
    TForm1 okno;
    Ukaz(okno);
    struct Prikaz {
        QAction* polozka;
        const char* jmenoOkna;
        const char* titulek;
        std::function<TData*(QWidget*)> data;
    };
    const auto data = [](auto* okno) { return okno ? okno->PData : nullptr; };
    const std::vector<Prikaz> prikazy = {
        {okno.AdresaRychlost1, "Form12", "Nastavení komunikační adresy a rychlosti",
         [&](QWidget* w) { return data(qobject_cast<TForm12*>(w)); }},
        {okno.NastavAIN1, "Form5", "Nastavení čítačů KV-619", [&](QWidget* w) { return data(qobject_cast<TForm5*>(w)); }},
        {okno.HodinovobvodRTC1, "Form3", "Nastavení hodinového obvodu RTC",
         [&](QWidget* w) { return data(qobject_cast<TForm3*>(w)); }},
        {okno.NastavDIO1, "Form14", "Nastavení digitálních vstupů/výstupů",
         [&](QWidget* w) { return data(qobject_cast<TForm14*>(w)); }},
        {okno.OkamAIN2, "Form6", "Okamžité hodnoty čítačů", [&](QWidget* w) { return data(qobject_cast<TForm6*>(w)); }},
        {okno.OkamDIN2, "Form11", "Okamžité hodnoty digitálních vstupů",
         [&](QWidget* w) { return data(qobject_cast<TForm11*>(w)); }},
        {okno.OkamDOUT1, "Form9", "Zápis na digitální výstupy", [&](QWidget* w) { return data(qobject_cast<TForm9*>(w)); }},
        {okno.Statusregistr1, "Form15", "Status registr", [&](QWidget* w) { return data(qobject_cast<TForm15*>(w)); }},
        {okno.Pipojen1, "Form2", "Připojení modulu", [&](QWidget* w) { return data(qobject_cast<TForm2*>(w)); }},
    };
    for (const Prikaz& p : prikazy) {
        SCOPED_TRACE(p.jmenoOkna);
        bool otevreno = false;
        VModalnimOkne([&](QWidget* dialog) {
            otevreno = true;
            EXPECT_EQ(dialog->objectName(), p.jmenoOkna);
            EXPECT_EQ(dialog->windowTitle(), p.titulek);
            EXPECT_EQ(dialog->parent(), &okno);
            EXPECT_EQ(p.data(dialog), okno.Data());
            dialog->close();
        });
        KlikniMenu(okno, p.polozka);
        EXPECT_TRUE(otevreno);
        EXPECT_TRUE(okno.findChildren<QDialog*>().isEmpty());
    }
}

TEST_F(Hlavni, RecordThatCannotBeAllocatedIsReportedAndNothingIsOpenedOrSaved) {
    ZadneMistoProData = true;
    TForm1 okno;
    ZadneMistoProData = false;
    Ukaz(okno);
    EXPECT_EQ(okno.Data(), nullptr);
    EXPECT_EQ(TextPanelu(okno, 3), " Nelze vytvořit datové struktury programu");
    CelyTextVidet(okno, 3, 50);

    KlikniMenu(okno, okno.Pipojen1);  // returns at once: no dialog is opened
    KlikniMenu(okno, okno.OkamDIN2);
    EXPECT_TRUE(okno.findChildren<QDialog*>().isEmpty());
    EXPECT_EQ(TextPanelu(okno, 0), " Modul");

    KlikniMenu(okno, okno.Konec2);
    EXPECT_FALSE(okno.isVisible());
    EXPECT_FALSE(obsluha::Existuje(Nastaveni()));
}

std::string Cp1250(std::string_view Utf8Text) {
    std::string vysledek;
    for (size_t i = 0; i < Utf8Text.size(); ++i) {
        const auto c = static_cast<unsigned char>(Utf8Text[i]);
        if (c < 0x80) {
            vysledek += static_cast<char>(c);
            continue;
        }
        const std::string_view znak = Utf8Text.substr(i, 2);
        ++i;
        if (znak == "ř") vysledek += '\xF8';
        else if (znak == "í") vysledek += '\xED';
        else if (znak == "Č") vysledek += '\xC8';
        else ADD_FAILURE() << "no table entry";
    }
    return vysledek;
}

}  // namespace

namespace {

// What a closed window finished is shown in the last panel until the next
// connection dialog.
TEST_F(Hlavni, ResultOfAClosedWindowShowsInTheLastPanelUntilTheConnectionDialog) {
    TForm1 okno;
    Ukaz(okno);
    Report::Program().Tell("Zápis na digitální výstupy", " Data zapsána");
    EXPECT_EQ(TextPanelu(okno, 3), " Zápis na digitální výstupy: Data zapsána");
    CelyTextVidet(okno, 3, 50);
    VModalnimOkne([](QWidget* Dialog) { Dialog->close(); });
    KlikniMenu(okno, okno.Pipojen1);
    EXPECT_EQ(TextPanelu(okno, 3), "");
}

// A library that never returns from an exchange keeps the worker; "Konec"
// still ends the process, within the time the main window waits for the
// worker, and says why.  The process ends in a child (a death test, which
// runs this test again in a fresh process); the folder for its settings is
// made by the parent alone and handed down in the environment.
class KonecSVislouKnihovnou : public ::testing::TestWithParam<const char*> {};

TEST_P(KonecSVislouKnihovnou, KonecEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::optional<obsluha::TDocasnaSlozka> slozka;
    if (qEnvironmentVariableIsEmpty("KV_TEST_FOLDER")) {
        slozka.emplace();
        qputenv("KV_TEST_FOLDER", QByteArray::fromStdString(slozka->Cesta()));
    }
    const std::string nastaveni = qEnvironmentVariable("KV_TEST_FOLDER").toStdString() + "/R_iv618.ini";
    const std::string zastaveno = GetParam();
    EXPECT_EXIT(
        {
            NastavCestuNastaveni(nastaveni);
            qputenv("KV_FAKE_HANG", zastaveno.c_str());
            TForm1 okno;
            okno.show();
            LinkWorker::Program().Post([](kv618::Connection& Spojeni) {
                TData data;
                InicializujData(&data);
                if (Spojeni.Open(RozhraniKV1726, kv618::InitBlock(data, RozhraniKV1726), 19200, FAKE_DIR) == 0)
                    Spojeni.At(1).ReadInputs();
            });
            okno.Konec2Click();
            std::exit(0);  // not reached: the worker never comes back
        },
        ::testing::ExitedWithCode(1), "knihovna rozhraní neodpověděla do 10 s");
    qunsetenv("KV_TEST_FOLDER");
    EXPECT_TRUE(obsluha::Existuje(nastaveni)) << "the settings are saved first";
}

INSTANTIATE_TEST_SUITE_P(Hlavni, KonecSVislouKnihovnou, ::testing::Values("Init", "Send"));

}  // namespace
