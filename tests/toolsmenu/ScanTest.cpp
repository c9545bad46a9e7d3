// The window that finds modules: a bus of modules at several rates, each
// found once with its address, rate and identification as it answers; the
// progress with the address and rate asked and the time left; "Připojit"
// makes one the program's as the connection dialog would; stopping and
// closing act at once.
#include "NaLince.h"
#include "ScanWindow.h"

#include "LinkWorker.h"
#include "StatusBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

namespace {

using kvtest::DokonciPraci;

class Scan : public kvtest::NaLince {
protected:
    std::vector<std::string> Moduly() const override { return {"7:19200", "23:57600", "30:4800"}; }

    void SetUp() override {
        NaLince::SetUp();
        // The record as a settings file names the emulator's LAN converter.
        Data.Rozhrani = RozhraniKV1726;
        Data.IPAdresa = "127.0.0.1";
        Data.UDPPort = Emu->udpPort();
        Data.UDPTimeout = 200;
    }

    // The window over addresses 0-31 at the rates given (Bd).
    void Otevri(ScanWindow& Okno, const std::vector<int>& Rychlosti) {
        Okno.PData = &Data;
        Ukaz(Okno);
        Okno.First->setValue(0);
        Okno.Last->setValue(31);
        for (QCheckBox* r : Okno.Rates) r->setChecked(false);
        for (const int rychlost : Rychlosti) Okno.findChild<QCheckBox*>(QString("Rate%1").arg(rychlost))->setChecked(true);
    }
    // A click on "Hledat" or "Zastavit" alone: the scan goes on in the worker.
    static void Stiskni(QPushButton* Tlacitko) { QTest::mouseClick(Tlacitko, Qt::LeftButton); }
    static bool Dobehne(ScanWindow& Okno) {
        return QTest::qWaitFor([&] { return !Okno.Scanning(); }, 60'000);
    }
    static QStringList Radek(const QTableWidget* Tabulka, int Radek) {
        QStringList bunky;
        for (int c = 0; c < Tabulka->columnCount(); ++c) bunky << Tabulka->item(Radek, c)->text();
        return bunky;
    }
    QString Identifikace() { return QString::fromStdString("KV-618   v.1.04"); }
};

TEST_F(Scan, FindsEveryModuleOnTheBusAtItsRateAsKv618ScanDoes) {
    ScanWindow okno;
    Otevri(okno, {4800, 9600, 19200, 57600});
    EXPECT_EQ(okno.Interface->currentText(), "LAN konvertor KV-1726");
    EXPECT_EQ(okno.Parameters[1]->text(), QString::number(Emu->udpPort()));
    Stiskni(okno.ScanButton);
    EXPECT_TRUE(okno.Scanning());
    EXPECT_EQ(okno.ScanButton->text(), "Zastavit");
    EXPECT_EQ(Data.Pripojeno, 0) << "the program's link goes first, as in the connection dialog";
    ASSERT_TRUE(QTest::qWaitFor([&] { return okno.Asking->text().startsWith("Adresa ") || !okno.Scanning(); }, 10'000));
    const QString prubeh = okno.Asking->text();
    // Module 30 answers at the first rate: its row is there while the other rates are asked.
    ASSERT_TRUE(QTest::qWaitFor([&] { return okno.Found->rowCount() > 0 || !okno.Scanning(); }, 10'000));
    EXPECT_TRUE(okno.Scanning()) << "the table fills as the modules answer";
    ASSERT_TRUE(Dobehne(okno));
    EXPECT_TRUE(QRegularExpression(R"(^Adresa \d+, \d+ Bd, nalezeno modulů: \d, zbývá nejvýše (\d+ min )?\d+ s$)")
                    .match(prubeh)
                    .hasMatch())
        << prubeh.toStdString();
    EXPECT_EQ(TextStavu(&okno), " Hledání skončilo, nalezeno modulů: 3.");
    EXPECT_EQ(okno.Progress->value(), okno.Progress->maximum());
    ASSERT_EQ(okno.Found->rowCount(), 3);
    QStringList radky;
    for (int r = 0; r < 3; ++r) radky << Radek(okno.Found, r).join("|");
    radky.sort();
    const auto [stav, kv618] = Kv618(0, "scan --addresses 0-31 --bauds 4800,9600,19200,57600");
    ASSERT_EQ(stav, 0) << kv618;
    QStringList nastroje;
    for (const QString& radek : QString::fromStdString(kv618).split('\n', Qt::SkipEmptyParts)) {
        const QStringList slova = radek.split(' ');
        nastroje << slova[0] + "|" + slova[1] + " Bd|" + slova.mid(2).join(' ');
    }
    nastroje.sort();
    EXPECT_EQ(radky, nastroje) << "the same modules as kv618 scan";
    EXPECT_EQ(radky, (QStringList{"23|57600 Bd|" + Identifikace(), "30|4800 Bd|" + Identifikace(),
                                  "7|19200 Bd|" + Identifikace()}));
}

TEST_F(Scan, ConnectSetsTheConnectionsAddressAndRateAsTheConnectionDialogWould) {
    ScanWindow okno;
    Otevri(okno, {57600, 19200});
    Klikni(okno.ScanButton);
    ASSERT_TRUE(Dobehne(okno));
    ASSERT_EQ(okno.Found->rowCount(), 2);
    const int radek = okno.Found->item(0, 0)->text() == "23" ? 0 : 1;
    okno.Found->selectRow(radek);
    Klikni(okno.ConnectButton);
    EXPECT_EQ(TextStavu(&okno), " Připojen modul " + Identifikace() + " na adrese 23, 57600 Bd.");
    EXPECT_EQ(Data.Pripojeno, 1);
    EXPECT_EQ(Data.Adresa, 23);
    EXPECT_EQ(Data.Rychlost, 57600);
    EXPECT_EQ(Data.Status, TextVPoradku);
    EXPECT_EQ(QString::fromStdString(Data.IdentModulu), Identifikace());
    EXPECT_NE(Data.Handle, 0);
    okno.close();
    // The link stays the program's: the module answers through it.
    const auto vstupy = LinkWorker::Program().Run([](kv618::Connection& c) { return c.At(23).ReadInputs(); });
    EXPECT_TRUE(vstupy.ok());
    EXPECT_EQ(vstupy.value, Emu->value("at 23 get inputs"));
}

TEST_F(Scan, AnOddAnswerIsListedWithWhyAndCannotBeConnectedTo) {
    // Module 7 answers the identification's first request, then refuses the second.
    ASSERT_EQ(Emu->command("at 7 fault refuse 0xC8 1 1"), "ok");
    ScanWindow okno;
    Otevri(okno, {19200, 57600});
    Klikni(okno.ScanButton);
    ASSERT_TRUE(Dobehne(okno));
    EXPECT_EQ(TextStavu(&okno), " Hledání skončilo, nalezeno modulů: 1, chybných odpovědí: 1.");
    ASSERT_EQ(okno.Found->rowCount(), 2);
    const int radek = okno.Found->item(0, 0)->text() == "7" ? 0 : 1;
    const QStringList bunky = Radek(okno.Found, radek);
    EXPECT_EQ(bunky.mid(0, 2), (QStringList{"7", "19200 Bd"}));
    EXPECT_TRUE(bunky[2].startsWith("chybná odpověď: ")) << bunky[2].toStdString();
    EXPECT_GT(bunky[2].size(), QString("chybná odpověď: ").size()) << "the library's reason follows";
    okno.Found->selectRow(radek);
    EXPECT_FALSE(okno.ConnectButton->isEnabled());
    okno.Found->selectRow(1 - radek);
    EXPECT_TRUE(okno.ConnectButton->isEnabled());
    EXPECT_EQ(okno.Found->item(1 - radek, 0)->text(), "23");
}

TEST_F(Scan, StopAndCloseActAtOnceAndAnUnchosenLinkIsClosed) {
    ScanWindow okno;
    Otevri(okno, {4800, 9600});
    okno.Last->setValue(255);
    Stiskni(okno.ScanButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return okno.Progress->value() > 3; }, 10'000));
    Stiskni(okno.ScanButton);  // "Zastavit"
    ASSERT_TRUE(Dobehne(okno));
    EXPECT_TRUE(TextStavu(&okno).startsWith(" Hledání zastaveno, nalezeno modulů: ")) << TextStavu(&okno).toStdString();
    EXPECT_LT(okno.Progress->value(), okno.Progress->maximum());

    Stiskni(okno.ScanButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return okno.Progress->value() > 3; }, 10'000));
    okno.close();
    EXPECT_FALSE(okno.isVisible());
    EXPECT_FALSE(okno.Scanning());
    DokonciPraci();
    EXPECT_FALSE(LinkWorker::Program().Run([](kv618::Connection& c) { return c.IsOpen(); }))
        << "a link nobody chose is closed with the window";
    EXPECT_EQ(Data.Pripojeno, 0);
}

TEST_F(Scan, ParametersAreTakenAsTheConnectionDialogTakesThem) {
    ScanWindow okno;
    Otevri(okno, {9600});
    Napis(okno.Parameters[1], "65536");
    Klikni(okno.ScanButton);
    EXPECT_EQ(TextStavu(&okno), " Neplatný UDP port");
    EXPECT_FALSE(okno.Scanning());
    for (QCheckBox* r : okno.Rates) r->setChecked(false);
    Klikni(okno.ScanButton);
    EXPECT_EQ(TextStavu(&okno), " Zvolte aspoň jednu komunikační rychlost.");
    // The ISA card as the dialog shows its base; a card carries no rate to
    // its line, so only the record's own rate is asked.
    okno.Interface->setCurrentIndex(RozhraniPCI726);
    EXPECT_EQ(okno.Parameters[0]->text(), "300h");
    EXPECT_FALSE(okno.Parameters[1]->isVisible());
    int zaskrtnute = 0;
    for (QCheckBox* r : okno.Rates) zaskrtnute += r->isChecked();
    EXPECT_EQ(zaskrtnute, 1);
    EXPECT_TRUE(okno.findChild<QCheckBox*>("Rate9600")->isChecked());
}

}  // namespace
