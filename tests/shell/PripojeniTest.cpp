// The connection dialog shown on its own, driven through its controls, with
// the real interface libraries and the emulator.
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

using obsluha::Klikni;
using obsluha::Napis;
using obsluha::Zvol;

namespace {

const QString TextUspechu = "Připojení úspěšně inicializováno. Připojen modul   ";
// What the emulated module answers to the three identification requests.
const std::string IdentEmulatoru = "KV-618   v.1.04";

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
std::vector<std::string> Pozadavky(kvtest::Emulator& Emulator) {
    std::vector<std::string> seznam;
    std::stringstream log(Emulator.command("get log"));
    for (std::string polozka; std::getline(log, polozka, ';');) {
        if (!polozka.empty()) seznam.push_back(polozka);
    }
    return seznam;
}

TEST_F(Pripojeni, HasItsDesignedControlsCaptionsAndLists) {
    Otevri();
    EXPECT_EQ(okno->windowTitle(), "Připojení modulu");
    EXPECT_EQ(okno->size(), QSize(592, 373));
    EXPECT_EQ(Popisek("Label1")->text(), "Adresa připojeného modulu");
    EXPECT_EQ(Popisek("Label2")->text(), "Komunikační rychlost");
    EXPECT_EQ(Popisek("Label4")->text(), "Status připojení");
    EXPECT_EQ(Popisek("Label5")->text(), "Komunikační rozhraní");
    EXPECT_EQ(Popisek("Label6")->text(), "UDP port");
    EXPECT_EQ(Popisek("Label7")->text(), "UDP timeout");
    EXPECT_EQ(Prvek<QPushButton>("Button1")->text(), "Inicializace připojení");
    EXPECT_EQ(Prvek<QPushButton>("Button2")->text(), "Cancel");
    EXPECT_TRUE(Popisek("Panel1")->alignment() & Qt::AlignLeft);

    const QStringList rozhrani = {"Standardní COMx", "ISA karta PCI-726", "PCI karta PCI-1726",
                                  "USB konvertor USB-1726", "LAN konvertor KV-1726"};
    const QStringList rychlosti = {"600 Bd",   "1200 Bd",  "2400 Bd",  "4800 Bd",  "9600 Bd",
                                   "19200 Bd", "38400 Bd", "57600 Bd", "115200 Bd"};
    for (const auto& [jmeno, polozky] : {std::pair{"ComboBox2", rozhrani}, std::pair{"ComboBox1", rychlosti}}) {
        QComboBox* seznam = Seznam(jmeno);
        EXPECT_FALSE(seznam->isEditable()) << jmeno;
        QStringList texty;
        for (int i = 0; i < seznam->count(); ++i) texty << seznam->itemText(i);
        EXPECT_EQ(texty, polozky) << jmeno;
    }
}

TEST_F(Pripojeni, ShowingFillsTheStoredValuesOfTheStoredInterface) {
    Data.Adresa = 17;
    Data.Rychlost = 19200;
    Data.CisloPortu = 3;
    Data.BazovaAdresa = 0x2A;
    Data.IPAdresa = "127.0.0.1";
    Data.UDPPort = 5077;
    Data.UDPTimeout = 350;

    struct Ocekavani {
        uint8_t rozhrani;
        const char* popisek;  // nullptr: Label3 and Edit2 hidden
        const char* edit2;
        bool lan;
    };
    for (const Ocekavani& o : {Ocekavani{0, "Číslo portu COMx", "3", false},
                               Ocekavani{1, "Bázová adresa PCI-726", "02Ah", false},
                               Ocekavani{2, nullptr, "", false}, Ocekavani{3, nullptr, "", false},
                               Ocekavani{4, "IP adresa", "127.0.0.1", true}}) {
        SCOPED_TRACE(o.rozhrani);
        Data.Rozhrani = o.rozhrani;
        Otevri();
        EXPECT_EQ(Pole("Edit1")->text(), "17");
        EXPECT_EQ(Seznam("ComboBox1")->currentIndex(), 5);
        EXPECT_EQ(Seznam("ComboBox2")->currentIndex(), o.rozhrani);
        EXPECT_EQ(Popisek("Label3")->isVisible(), o.popisek != nullptr);
        EXPECT_EQ(Pole("Edit2")->isVisible(), o.popisek != nullptr);
        if (o.popisek) {
            EXPECT_EQ(Popisek("Label3")->text(), o.popisek);
            EXPECT_EQ(Pole("Edit2")->text(), o.edit2);
        }
        for (const char* jmeno : {"Label6", "Label7", "Edit3", "Edit4"}) {
            EXPECT_EQ(okno->findChild<QWidget*>(jmeno)->isVisible(), o.lan) << jmeno;
        }
        if (o.lan) {
            EXPECT_EQ(Pole("Edit3")->text(), "5077");
            EXPECT_EQ(Pole("Edit4")->text(), "350");
        }
        EXPECT_EQ(Panel(), "Připojení modulu dosud neinicializováno");
    }
}

TEST_F(Pripojeni, StoredInterfaceKeepsItsLowThreeBitsAndOneOutsideTheListSelectsNothing) {
    Data.Rozhrani = 12;  // low three bits: 4
    Otevri();
    EXPECT_EQ(Data.Rozhrani, 4);
    EXPECT_EQ(Seznam("ComboBox2")->currentIndex(), 4);

    Data.Rozhrani = 13;  // low three bits: 5, no such interface
    Otevri();
    EXPECT_EQ(Data.Rozhrani, 5);
    EXPECT_EQ(Seznam("ComboBox2")->currentIndex(), -1);
    for (const char* jmeno : {"Label3", "Edit2", "Label6", "Label7", "Edit3", "Edit4"}) {
        EXPECT_FALSE(okno->findChild<QWidget*>(jmeno)->isVisible()) << jmeno;
    }

    // A press with no interface chosen is refused and says why.
    Inicializace();
    EXPECT_EQ(Panel(), "Neznámý typ rozhraní");
    EXPECT_EQ(Data.Status, "Neznámý typ rozhraní");
    EXPECT_EQ(Data.Pripojeno, 0);
    EXPECT_FALSE(JeKnihovnaNactena());
}

TEST_F(Pripojeni, SwitchingTheInterfaceShowsStoredValuesNotTypedOnes) {
    Data.CisloPortu = 3;
    Data.IPAdresa = "127.0.0.1";
    Otevri();
    Napis(Pole("Edit2"), "7");
    Zvol(Seznam("ComboBox2"), RozhraniKV1726);
    EXPECT_EQ(Popisek("Label3")->text(), "IP adresa");
    EXPECT_EQ(Pole("Edit2")->text(), "127.0.0.1");
    EXPECT_TRUE(Pole("Edit3")->isVisible());
    Napis(Pole("Edit2"), "127.0.0.2");
    Napis(Pole("Edit3"), "6000");

    Zvol(Seznam("ComboBox2"), RozhraniPCI1726);
    EXPECT_FALSE(Pole("Edit2")->isVisible());
    EXPECT_FALSE(Pole("Edit3")->isVisible());

    Zvol(Seznam("ComboBox2"), RozhraniCOM);
    EXPECT_EQ(Popisek("Label3")->text(), "Číslo portu COMx");
    EXPECT_EQ(Pole("Edit2")->text(), "3");
    EXPECT_FALSE(Pole("Edit3")->isVisible());

    Zvol(Seznam("ComboBox2"), RozhraniKV1726);
    EXPECT_EQ(Pole("Edit2")->text(), "127.0.0.1");
    EXPECT_EQ(Pole("Edit3")->text(), "5000");

    // Choosing is not storing.
    EXPECT_EQ(Data.Rozhrani, RozhraniCOM);
    EXPECT_EQ(Data.CisloPortu, 3);
    EXPECT_EQ(Data.IPAdresa, "127.0.0.1");
    EXPECT_EQ(Data.UDPPort, 5000);
}

TEST_F(Pripojeni, ConnectsThroughTheLanConverterAndRecordsTheLinkOnlyOnSuccess) {
    // The converter carries the request at the rate chosen below: the module has it too.
    kvtest::Emulator emulator{kvtest::ModulesOnLine({"1:19200"})};
    emulator.command("set status 0x5A");
    Data.Adresa = 7;
    Otevri();
    ZadejLAN(emulator.udpPort());
    Zvol(Seznam("ComboBox1"), 5);
    Inicializace();

    EXPECT_EQ(Panel(), TextUspechu + QString::fromStdString(IdentEmulatoru));
    EXPECT_EQ(Data.IdentModulu, IdentEmulatoru);
    EXPECT_EQ(Data.Pripojeno, 1);
    EXPECT_NE(Data.Handle, 0);
    EXPECT_EQ(Data.Adresa, 1);
    EXPECT_EQ(Data.Rychlost, 19200);
    EXPECT_EQ(Data.Status, "V pořádku");
    EXPECT_EQ(Data.Rozhrani, RozhraniKV1726);
    EXPECT_EQ(Data.IPAdresa, "127.0.0.1");
    EXPECT_EQ(Data.UDPPort, emulator.udpPort());
    EXPECT_EQ(Data.UDPTimeout, 200);
    EXPECT_EQ(Data.InitParametry[0], reinterpret_cast<intptr_t>(Data.IPAdresa.c_str()));
    EXPECT_EQ(Data.InitParametry[1], emulator.udpPort());
    EXPECT_EQ(Data.InitParametry[2], 200);
    for (size_t i = 3; i < Data.InitParametry.size(); ++i) EXPECT_EQ(Data.InitParametry[i], 0) << i;
    EXPECT_TRUE(JePripojeno(&Data));

    // Three identification requests; D0 carries the previous reply's status.
    const auto pozadavky = Pozadavky(emulator);
    ASSERT_GE(pozadavky.size(), 3u);
    const std::vector<std::string> posledni(pozadavky.end() - 3, pozadavky.end());
    EXPECT_EQ(posledni, (std::vector<std::string>{"200 0 0 0 0 0 0", "200 1 90 0 0 0 0", "200 2 90 0 0 0 0"}));
}

TEST_F(Pripojeni, ConnectsThroughTheSerialLine) {
    kvtest::Emulator emulator;
    ::setenv("QCOM726_COM1", emulator.ptyPath().c_str(), 1);
    Otevri();
    Zvol(Seznam("ComboBox2"), RozhraniCOM);
    Napis(Pole("Edit2"), "1");
    Napis(Pole("Edit1"), "1");
    Zvol(Seznam("ComboBox1"), 4);
    Inicializace();

    EXPECT_EQ(Panel(), TextUspechu + QString::fromStdString(IdentEmulatoru));
    EXPECT_TRUE(JePripojeno(&Data));
    EXPECT_EQ(Data.CisloPortu, 1);
    EXPECT_EQ(Data.InitParametry[0], 1);
    EXPECT_EQ(Data.Rychlost, 9600);
    EXPECT_EQ(Data.Adresa, 1);
}

TEST_F(Pripojeni, ConnectsThroughTheCards) {
    kvtest::Emulator emulator;
    ::setenv("KV618_CARD_DIR", emulator.cardDir().c_str(), 1);
    Otevri();
    Napis(Pole("Edit1"), "1");

    Zvol(Seznam("ComboBox2"), RozhraniPCI1726);
    Inicializace();
    EXPECT_EQ(Panel(), TextUspechu + QString::fromStdString(IdentEmulatoru));
    EXPECT_TRUE(JePripojeno(&Data));
    EXPECT_EQ(Data.InitParametry[0], 0);

    // The second press closes the first link before it binds the ISA card.
    Zvol(Seznam("ComboBox2"), RozhraniPCI726);
    Napis(Pole("Edit2"), "300h");
    Inicializace();
    EXPECT_EQ(Panel(), TextUspechu + QString::fromStdString(IdentEmulatoru));
    EXPECT_TRUE(JePripojeno(&Data));
    EXPECT_EQ(Data.Rozhrani, RozhraniPCI726);
    EXPECT_EQ(Data.BazovaAdresa, 768);
    EXPECT_EQ(Data.InitParametry[0], 768);
}

TEST_F(Pripojeni, LanParametersAreValidatedInOrderAndWhatPassedIsKept) {
    Otevri();
    Zvol(Seznam("ComboBox2"), RozhraniKV1726);
    EXPECT_EQ(Pole("Edit2")->text(), "192.168.0.99");

    Napis(Pole("Edit2"), "127.0.0.1");
    for (const char* port : {"abc", "65536", "-1", "", "12.5"}) {
        Napis(Pole("Edit3"), port);
        Inicializace();
        EXPECT_EQ(Panel(), "Neplatný UDP port") << port;
    }
    EXPECT_EQ(Data.IPAdresa, "127.0.0.1");
    EXPECT_EQ(Data.UDPPort, 5000);
    EXPECT_EQ(Data.Rozhrani, RozhraniKV1726);

    Napis(Pole("Edit3"), "65535");
    for (const char* timeout : {"x", "65536", "-5"}) {
        Napis(Pole("Edit4"), timeout);
        Inicializace();
        EXPECT_EQ(Panel(), "Neplatný UDP timeout") << timeout;
    }
    EXPECT_EQ(Data.UDPPort, 65535);
    EXPECT_EQ(Data.UDPTimeout, 200);
    EXPECT_EQ(Data.Status, "Neplatný UDP timeout");
    EXPECT_EQ(Data.Pripojeno, 0);
    EXPECT_FALSE(JeKnihovnaNactena());
}

TEST_F(Pripojeni, InvalidLanParametersCloseTheLinkThatWasOpen) {
    kvtest::Emulator emulator;
    Otevri();
    struct Pripad {
        const char* pole;
        const char* text;
        const char* zprava;
    };
    for (const Pripad& p : {Pripad{"Edit2", "", "Neplatná IP adresa"}, Pripad{"Edit3", "65536", "Neplatný UDP port"},
                            Pripad{"Edit4", "70000", "Neplatný UDP timeout"}}) {
        SCOPED_TRACE(p.zprava);
        ZadejLAN(emulator.udpPort());
        Inicializace();
        ASSERT_TRUE(JePripojeno(&Data));
        ASSERT_TRUE(JeKnihovnaNactena());

        Napis(Pole(p.pole), p.text);
        Inicializace();
        EXPECT_EQ(Panel(), p.zprava);
        EXPECT_EQ(Data.Pripojeno, 0);
        EXPECT_FALSE(JeKnihovnaNactena()) << "the link open before the press is closed";
        EXPECT_EQ(Data.Status, p.zprava);
    }
}

TEST_F(Pripojeni, MissingLibraryIsReportedWithTheBindingsText) {
    obsluha::TDocasnaSlozka prazdna;
    NastavSlozkuKnihoven(prazdna.Cesta());
    Data.Handle = 0;
    Data.IdentModulu = "ABCDEFGH v.1.04";
    Otevri();

    Zvol(Seznam("ComboBox2"), RozhraniPCI1726);
    Inicializace();
    EXPECT_EQ(Panel(), "Chyba inicializace připojení - chyba inicializace knihovny QPCI1726.DLL");
    EXPECT_EQ(Data.Status, Panel().toStdString());
    EXPECT_EQ(Data.Rozhrani, RozhraniPCI1726);

    ZadejLAN(9);
    Inicializace();
    EXPECT_EQ(Panel(), "Chyba inicializace připojení - chyba inicializace knihovny QKV1726.DLL");

    EXPECT_EQ(Data.Pripojeno, 0);
    EXPECT_EQ(Data.Handle, 0);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_EQ(Data.IdentModulu, "ABCDEFGH v.1.04");
}

TEST_F(Pripojeni, ModuleAtAnotherAddressGivesTheLibrarysTextAloneAndClosesTheLink) {
    kvtest::Emulator emulator;  // the module answers at address 1
    Data.Adresa = 5;
    Data.Rychlost = 4800;
    Data.IdentModulu = "ABCDEFGH v.1.04";
    Otevri();
    ZadejLAN(emulator.udpPort(), "2");
    Inicializace();

    const std::string neodpovida = TextKnihovnyLAN(1);
    EXPECT_FALSE(neodpovida.empty());
    EXPECT_EQ(Panel().toStdString(), neodpovida);
    EXPECT_EQ(Data.Pripojeno, 0);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_EQ(Data.Adresa, 5);
    EXPECT_EQ(Data.Rychlost, 4800);
    EXPECT_EQ(Data.IdentModulu, "ABCDEFGH v.1.04");
    EXPECT_EQ(Data.Status, neodpovida);
    EXPECT_EQ(emulator.value("get requests"), 0u);
}

TEST_F(Pripojeni, StatusSaysWhyThereIsNoLinkAndAllIsWellOnlyAfterASuccess) {
    kvtest::Emulator emulator;
    Otevri();
    ZadejLAN(emulator.udpPort());
    Inicializace();
    ASSERT_EQ(Data.Status, "V pořádku");

    Napis(Pole("Edit1"), "2");
    Inicializace();
    const QString neuspech = Panel();
    EXPECT_FALSE(neuspech.startsWith(TextUspechu));
    EXPECT_EQ(Data.Pripojeno, 0);

    Otevri();
    EXPECT_EQ(Panel(), neuspech) << "the dialog must not open saying all is well";

    Napis(Pole("Edit1"), "1");
    Inicializace();
    EXPECT_EQ(Data.Status, "V pořádku");
    Otevri();
    EXPECT_EQ(Panel(), "V pořádku");
}

TEST_F(Pripojeni, ModuleAddressIsCutToItsLowByteAndShownBack) {
    kvtest::EmulatorOptions moznosti;
    moznosti.address = 0;
    kvtest::Emulator emulator(moznosti);
    Otevri();
    ZadejLAN(emulator.udpPort(), "256");
    Inicializace();
    EXPECT_EQ(Pole("Edit1")->text(), "0");
    EXPECT_EQ(Panel(), TextUspechu + QString::fromStdString(IdentEmulatoru)) << "the module at 0 was asked";
    EXPECT_EQ(Data.Adresa, 0);

    for (const auto& [typed, shown] : {std::pair{"300", "44"}, std::pair{"abc", "0"}, std::pair{"-1", "255"}}) {
        Napis(Pole("Edit2"), "");  // stops the press before anything is bound
        Napis(Pole("Edit1"), typed);
        Inicializace();
        EXPECT_EQ(Pole("Edit1")->text(), shown) << typed;
    }
}

TEST_F(Pripojeni, IsaBaseAddressIsThreeHexDigitsBeforeTheH) {
    obsluha::TDocasnaSlozka prazdna;
    NastavSlozkuKnihoven(prazdna.Cesta());
    Otevri();
    Zvol(Seznam("ComboBox2"), RozhraniPCI726);
    EXPECT_EQ(Pole("Edit2")->text(), "300h");
    struct Pripad {
        const char* napsano;
        uint16_t baze;
        const char* zobrazeno;
    };
    for (const Pripad& p : {Pripad{"2A0h", 672, "2A0h"}, Pripad{"2a0h", 672, "2A0h"}, Pripad{"2A0", 768, "300h"},
                            Pripad{"02Ah", 42, "02Ah"}, Pripad{"xyzh", 768, "300h"}, Pripad{"2A0hh", 768, "300h"},
                            Pripad{"", 768, "300h"}}) {
        Napis(Pole("Edit2"), p.napsano);
        Inicializace();
        EXPECT_EQ(Data.BazovaAdresa, p.baze) << p.napsano;
        EXPECT_EQ(Data.InitParametry[0], p.baze) << p.napsano;
        EXPECT_EQ(Pole("Edit2")->text(), p.zobrazeno) << p.napsano;
        EXPECT_EQ(Panel(), "Chyba inicializace připojení - chyba inicializace knihovny QPCI726.DLL");
    }
}

TEST_F(Pripojeni, ALibrarysLongMessageShowsWholeInThePanel) {
    obsluha::TDocasnaSlozka slozkaPortu;
    ::setenv("QCOM726_COM1", slozkaPortu.Soubor("zadny-port").c_str(), 1);
    Otevri();
    Zvol(Seznam("ComboBox2"), RozhraniCOM);
    Napis(Pole("Edit2"), "1");
    Inicializace();

    QLabel* panel = Popisek("Panel1");
    ASSERT_TRUE(panel->text().startsWith("Chyba inicializace připojení - ")) << panel->text().toStdString();
    EXPECT_GT(panel->fontMetrics().horizontalAdvance(panel->text()), panel->contentsRect().width())
        << "longer than one line";
    EXPECT_TRUE(panel->wordWrap()) << "so it goes on in a second line";
    EXPECT_LE(panel->heightForWidth(panel->width()), panel->height()) << panel->text().toStdString();
    EXPECT_LE(panel->geometry().bottom(), Prvek<QPushButton>("Button1")->geometry().top());
    EXPECT_EQ(Data.Pripojeno, 0);
}

TEST_F(Pripojeni, ComPortIsANumberOrOne) {
    obsluha::TDocasnaSlozka prazdna;
    NastavSlozkuKnihoven(prazdna.Cesta());
    Otevri();
    Zvol(Seznam("ComboBox2"), RozhraniCOM);
    struct Pripad {
        const char* napsano;
        const char* zobrazeno;
        uint8_t port;
        intptr_t bunka;
    };
    for (const Pripad& p : {Pripad{"abc", "1", 1, 1}, Pripad{"4", "4", 4, 4}, Pripad{"258", "258", 2, 258},
                            Pripad{"65537", "1", 1, 1}, Pripad{"-1", "65535", 255, 65535}}) {
        Napis(Pole("Edit2"), p.napsano);
        Inicializace();
        EXPECT_EQ(Pole("Edit2")->text(), p.zobrazeno) << p.napsano;
        EXPECT_EQ(Data.CisloPortu, p.port) << p.napsano;
        EXPECT_EQ(Data.InitParametry[0], p.bunka) << p.napsano;
        EXPECT_EQ(Panel(), "Chyba inicializace připojení - chyba inicializace knihovny QCOM726.DLL");
    }
}

TEST(Identifikace, ReplyBytesAreWindows1250CharactersAndAZeroByteIsABlank) {
    EXPECT_EQ(ZnakyIdentifikace('A', 'B', 'C', 'D'), "ABCD");
    EXPECT_EQ(ZnakyIdentifikace(0x8A, 'a', 0xE8, 0x9E), "Šačž");
    EXPECT_EQ(ZnakyIdentifikace('K', 0, 0, 'V'), "K  V");
    EXPECT_EQ(ZnakyIdentifikace(0, 0, 0, 0), "    ");
}

// The attempt runs on the connection worker: its text shows while it waits
// for a silent module, and closing the dialog then leaves no link behind.
TEST_F(Pripojeni, ClosingWhileTheModuleDoesNotAnswerActsAtOnceAndLeavesNoLink) {
    kvtest::Emulator emulator;
    ASSERT_EQ(emulator.command("fault drop 100"), "ok");
    Otevri();
    ZadejLAN(emulator.udpPort());
    QTest::mouseClick(Prvek<QPushButton>("Button1"), Qt::LeftButton);
    EXPECT_EQ(Panel(), "Probíhá inicializace připojení");
    QTest::mouseClick(Prvek<QPushButton>("Button2"), Qt::LeftButton);
    EXPECT_FALSE(okno->isVisible());
    kvtest::DokonciPraci();
    EXPECT_FALSE(JePripojeno(&Data));
    EXPECT_FALSE(JeKnihovnaNactena()) << "the link opened for the attempt is closed again";
    EXPECT_LE(emulator.value("get requests"), 1u) << "nothing is asked after the exchange in flight";
}

}  // namespace
