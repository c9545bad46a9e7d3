#include "NaLince.h"

#include "Command.h"
#include "Dekl.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

namespace kvtest {

EmulatorOptions NaLince::MoznostiEmulatoru() const {
    EmulatorOptions moznosti;
    moznosti.modules = Moduly();
    return moznosti;
}

void NaLince::Klikni(QAbstractButton* Tlacitko) {
    ASSERT_NE(Tlacitko, nullptr);
    QTest::mouseClick(Tlacitko, Qt::LeftButton);
    DokonciPraci();
}

void NaLince::Napis(QLineEdit* Pole, const QString& Text) {
    ASSERT_NE(Pole, nullptr);
    Pole->selectAll();
    QTest::keyClicks(Pole, Text);
}

void NaLince::Ukaz(QDialog& Okno) {
    Okno.show();
    DokonciPraci();
}

std::string NaLince::Soubor(const std::string& Jmeno) const { return Docasna.filePath(QString::fromStdString(Jmeno)).toStdString(); }

std::pair<int, std::string> NaLince::Kv618(int Adresa, const std::string& Prikaz) const {
    const std::string radek = "{ " + SlozkaProgramu() + "/kv618 --interface kv1726 --ip 127.0.0.1 --udp-port " +
                              std::to_string(Emu->udpPort()) + " --address " + std::to_string(Adresa) + " " + Prikaz +
                              " 2>/dev/null; }";
    return RunShell(radek);
}

uint32_t NaLince::Registr(int Adresa, int Reg) {
    return Emu->value("at " + std::to_string(Adresa) + " get reg " + std::to_string(Reg));
}

void NaLince::NastavRegistr(int Adresa, int Reg, uint32_t Hodnota) {
    ASSERT_EQ(Emu->command("at " + std::to_string(Adresa) + " set reg " + std::to_string(Reg) + " " +
                           std::to_string(Hodnota)),
              "ok");
}

}  // namespace kvtest
