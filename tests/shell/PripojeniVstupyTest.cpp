// The connection dialog: what it makes of what is typed into it, and what
// it says when a library, the line or the module fails.
#include "PripojeniTest.h"

namespace {

using namespace pripojenitest;

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
