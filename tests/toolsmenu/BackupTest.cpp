// The backup window: a module's settings saved as `kv618 config save` saves
// them, a file compared with another module setting by setting, and only
// what differs written, each write read back; a restore that fails half way
// says which settings were written, and one begun is finished when the
// window closes.
#include "BackupWindow.h"
#include "NaLince.h"
#include "TestFiles.h"

#include "Report.h"
#include "StatusBar.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

#include <fstream>

namespace {

using kvtest::DokonciPraci;

constexpr int NegaceDIN0 = 0x21, NegaceDIN1 = 0x24, NegaceDIN2 = 0x27, NegaceDIN3 = 0x2A;
constexpr int Impulsy0 = 0x00, Adresa = 0x3F, Rychlost = 0x3E;

class Backup : public kvtest::NaLince {
protected:
    std::vector<std::string> Moduly() const override { return {"1", "2"}; }

    void SetUp() override {
        NaLince::SetUp();
        // Module 1: inputs negated, counter 0 at 500 pulses; module 2 otherwise.
        for (const int r : {NegaceDIN0, NegaceDIN1, NegaceDIN2, NegaceDIN3}) NastavRegistr(1, r, 0x0F);
        NastavRegistr(1, Impulsy0, 500 % 256);
        NastavRegistr(1, Impulsy0 + 1, 500 / 256);
        for (const int r : {NegaceDIN0, NegaceDIN1, NegaceDIN2, NegaceDIN3}) NastavRegistr(2, r, 0x00);
    }

    // The window on the module at `Modul`, shown.
    void Otevri(BackupWindow& Okno, int Modul, const std::string& Cesta) {
        Data.Adresa = static_cast<uint8_t>(Modul);
        Okno.PData = &Data;
        Ukaz(Okno);
        Napis(Okno.FileField, QString::fromStdString(Cesta));
    }

    // Module 1's settings in a file, saved by the window.
    std::string Zaloha() {
        const std::string cesta = Soubor("modul1.txt");
        BackupWindow okno;
        Otevri(okno, 1, cesta);
        Klikni(okno.SaveButton);
        EXPECT_TRUE(TextStavu(&okno).startsWith(" Nastavení modulu ")) << TextStavu(&okno).toStdString();
        return cesta;
    }

    static QStringList Radek(const QTableWidget* Tabulka, int Radek) {
        QStringList bunky;
        for (int c = 0; c < Tabulka->columnCount(); ++c) bunky << Tabulka->item(Radek, c)->text();
        return bunky;
    }
};

std::string BezDataUlozeni(const std::string& Text) {
    std::string vysledek;
    std::istringstream radky(Text);
    for (std::string radek; std::getline(radky, radek);)
        if (radek.rfind("saved = ", 0) != 0) vysledek += radek + "\n";
    return vysledek;
}

TEST_F(Backup, SavesTheModulesSettingsAsKv618ConfigSaveDoes) {
    const std::string cesta = Zaloha();
    const auto [stav, kv618] = Kv618(1, "config save -");
    ASSERT_EQ(stav, 0) << kv618;
    EXPECT_EQ(BezDataUlozeni(kvtest::ReadFile(cesta)), BezDataUlozeni(kv618));
    EXPECT_NE(kv618.find("input-negation = 0x0F0F0F0F"), std::string::npos) << kv618;
    EXPECT_NE(kv618.find("pulse-number.0 = 500"), std::string::npos) << kv618;
}

TEST_F(Backup, RestoreShowsTheDifferenceFirstThenWritesOnlyWhatDiffersLeavingAddressAndRate) {
    const std::string cesta = Zaloha();
    BackupWindow okno;
    Otevri(okno, 2, cesta);
    ASSERT_EQ(Emu->command("at 2 clear log"), "ok");
    Klikni(okno.CompareButton);
    EXPECT_EQ(Emu->command("at 2 get requests"), "25") << "identification and the 22 registers, nothing written";
    ASSERT_EQ(okno.Changes->rowCount(), 3) << TextStavu(&okno).toStdString();
    EXPECT_EQ(TextStavu(&okno), " Liší se nastavení: 3.");
    EXPECT_EQ(Radek(okno.Changes, 0),
              (QStringList{"Adresa modulu", "0x3F", "2", "1", "ponechá se (jen na přání)"}));
    EXPECT_EQ(Radek(okno.Changes, 1), (QStringList{"Negace DIN", "0x21, 0x24, 0x27, 0x2A", "0x00000000", "0x0F0F0F0F",
                                                   "zapíše se"}));
    EXPECT_EQ(Radek(okno.Changes, 2),
              (QStringList{"Impulsní číslo čítače 0", "0x00, 0x01", "1", "500", "zapíše se"}));
    EXPECT_EQ(Registr(2, NegaceDIN0), 0u) << "nothing is written before Obnovit";

    Klikni(okno.RestoreButton);
    EXPECT_EQ(TextStavu(&okno), " Zapsáno a ověřeno čtením: 2 nastavení.");
    for (const int r : {NegaceDIN0, NegaceDIN1, NegaceDIN2, NegaceDIN3}) EXPECT_EQ(Registr(2, r), 0x0Fu) << r;
    EXPECT_EQ(Registr(2, Impulsy0) + 256 * Registr(2, Impulsy0 + 1), 500u);
    EXPECT_EQ(Registr(2, Adresa), 2u);
    EXPECT_EQ(Radek(okno.Changes, 1)[4], "zapsáno a ověřeno");
    EXPECT_EQ(Radek(okno.Changes, 0)[4], "ponechá se (jen na přání)");
    EXPECT_FALSE(okno.RestoreButton->isEnabled());
    // Nothing is left to write.
    Klikni(okno.CompareButton);
    EXPECT_EQ(okno.Changes->rowCount(), 1);
    EXPECT_EQ(TextStavu(&okno), " Liší se nastavení: 1.");
    EXPECT_FALSE(okno.RestoreButton->isEnabled());
}

TEST_F(Backup, AddressAndRateAreWrittenOnlyWhenAskedFor) {
    const std::string cesta = Zaloha();
    BackupWindow okno;
    Otevri(okno, 2, cesta);
    NastavRegistr(2, Rychlost, 5);  // 19200 Bd from the next power-up
    Klikni(okno.CompareButton);
    okno.WithLink->setChecked(true);
    ASSERT_EQ(okno.Changes->rowCount(), 4);
    EXPECT_EQ(Radek(okno.Changes, 1), (QStringList{"Komunikační rychlost", "0x3E", "19200 Bd", "9600 Bd", "zapíše se"}));
    Klikni(okno.RestoreButton);
    EXPECT_EQ(TextStavu(&okno),
              " Zapsáno a ověřeno čtením: 4 nastavení. Adresa a rychlost platí od příštího zapnutí modulu.");
    EXPECT_EQ(Registr(2, Adresa), 1u);
    EXPECT_EQ(Registr(2, Rychlost), 4u);
}

TEST_F(Backup, ARestoreThatFailsHalfWaySaysWhichSettingsWereWritten) {
    const std::string cesta = Zaloha();
    BackupWindow okno;
    Otevri(okno, 2, cesta);
    Klikni(okno.CompareButton);
    // The third byte of the negation reads back otherwise after its write.
    ASSERT_EQ(Emu->command("at 2 fault readback " + std::to_string(NegaceDIN2)), "ok");
    Klikni(okno.RestoreButton);
    EXPECT_EQ(TextStavu(&okno), " Chyba zápisu dat. Zapsáno a ověřeno 2 z 6 registrů.");
    EXPECT_EQ(Radek(okno.Changes, 1)[4],
              "bajty 0, 1 zapsáno a ověřeno; bajt 2: po zápisu přečtena jiná hodnota; bajt 3 nezapsáno");
    EXPECT_EQ(Radek(okno.Changes, 2)[4], "nezapsáno");
    EXPECT_EQ(Registr(2, NegaceDIN1), 0x0Fu);
    EXPECT_EQ(Registr(2, NegaceDIN3), 0u);
    EXPECT_EQ(Registr(2, Impulsy0), 1u);

    // A write the module does not answer: the byte is uncertain.
    ASSERT_EQ(Emu->command("at 2 fault clear"), "ok");
    Klikni(okno.CompareButton);
    ASSERT_EQ(Emu->command("at 2 fault timeout 0x67 0"), "ok");
    Klikni(okno.RestoreButton);
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(1) + " Zapsáno a ověřeno 0 z 3 registrů.");
    EXPECT_EQ(Radek(okno.Changes, 1)[4], "bajt 3: nejisté (zápis nebo jeho kontrola selhaly)");
    EXPECT_EQ(Radek(okno.Changes, 2)[4], "nezapsáno");
}

TEST_F(Backup, ARestoreBegunIsFinishedWhenTheWindowClosesAndReported) {
    const std::string cesta = Zaloha();
    QSignalSpy zpravy(&Report::Program(), &Report::Told);
    {
        BackupWindow okno;
        Otevri(okno, 2, cesta);
        Klikni(okno.CompareButton);
        okno.RestoreButton->click();
        okno.close();
        DokonciPraci();
    }
    for (const int r : {NegaceDIN0, NegaceDIN1, NegaceDIN2, NegaceDIN3}) EXPECT_EQ(Registr(2, r), 0x0Fu) << r;
    ASSERT_EQ(zpravy.count(), 1);
    EXPECT_EQ(zpravy.at(0).at(0).toString(),
              " Záloha a obnova nastavení modulu: Zapsáno a ověřeno čtením: 2 nastavení.");
}

TEST_F(Backup, AFileThatDoesNotParseOrIsForAnotherModuleIsRefusedAndNothingIsAsked) {
    BackupWindow okno;
    const std::string cesta = Soubor("spatny.txt");
    Otevri(okno, 2, cesta);
    std::ofstream(cesta) << "format = kv618-settings 1\nmodule = KV-618\naddress = 300\n";
    Klikni(okno.CompareButton);
    EXPECT_EQ(TextStavu(&okno), QString::fromStdString(" Soubor " + cesta +
                                                       ", řádek 3: Adresa modulu musí být v rozsahu 0-255; nic se nezapsalo."));
    EXPECT_EQ(Emu->command("at 2 get requests"), "0");

    const std::string jiny = Zaloha();
    std::string text = kvtest::ReadFile(jiny);
    text.replace(text.find("module = KV-618"), 15, "module = KV-999");
    std::ofstream(cesta) << text;
    Klikni(okno.CompareButton);
    EXPECT_EQ(TextStavu(&okno), " Soubor je pro modul KV-999, připojen je modul KV-618; nic se nezapsalo.");
    EXPECT_EQ(okno.Changes->rowCount(), 0);
    EXPECT_FALSE(okno.RestoreButton->isEnabled());

    okno.FileField->clear();
    Klikni(okno.SaveButton);
    EXPECT_EQ(TextStavu(&okno), " Zadejte jméno souboru.");
}

TEST_F(Backup, WithoutAConnectionNothingIsAsked) {
    Data.Pripojeno = 0;
    BackupWindow okno;
    Otevri(okno, 1, Soubor("x.txt"));
    Klikni(okno.SaveButton);
    EXPECT_EQ(TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_FALSE(kvtest::ReadFile(Soubor("x.txt")).size());
}

}  // namespace
