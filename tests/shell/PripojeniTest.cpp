// The connection dialog: its controls, what it shows of the stored record,
// and a link through each interface.
#include "PripojeniTest.h"

namespace {

using namespace pripojenitest;

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

}  // namespace
