#include "OknoSModulem.h"

#include "Qxxx726.h"
#include "StatusBar.h"

#include <QEvent>
#include <QTest>

#include <sstream>

ZaznamStavu::ZaznamStavu(QWidget* Okno) : QObject(Okno) {
    panel_ = Okno->findChild<QLabel*>("StatusBar1_Panel0");
    EXPECT_NE(panel_, nullptr);
    if (panel_) panel_->installEventFilter(this);
}

bool ZaznamStavu::eventFilter(QObject* Objekt, QEvent* Udalost) {
    if (Objekt == panel_ && Udalost->type() == QEvent::Paint) {
        const QString text = panel_->text();
        if (Texty.isEmpty() || Texty.back() != text) {
            Texty.append(text);
            if (PriZmene) PriZmene(text);
        }
    }
    return QObject::eventFilter(Objekt, Udalost);
}

uint32_t OknoSModulem::Registr(uint8_t Cislo) { return Emu->value("get reg " + std::to_string(Cislo)); }

void OknoSModulem::NastavRegistr(uint8_t Cislo, uint8_t Hodnota) {
    EXPECT_EQ(Emu->command("set reg " + std::to_string(Cislo) + " " + std::to_string(Hodnota)), "ok");
}

std::vector<std::string> OknoSModulem::Log() {
    std::vector<std::string> radky;
    std::stringstream text(Emu->command("get log"));
    std::string radek;
    while (std::getline(text, radek, ';')) {
        if (!radek.empty()) radky.push_back(radek);
    }
    return radky;
}

void OknoSModulem::PoruchaRegistru(uint8_t Cislo) {
    EXPECT_EQ(Emu->command("fault register " + std::to_string(Cislo)), "ok");
}

std::string RadekLogu(int Funkce, int Podfunkce, int D0, int D1, int D2, int D3, int D4) {
    std::ostringstream text;
    text << Funkce << ' ' << Podfunkce << ' ' << D0 << ' ' << D1 << ' ' << D2 << ' ' << D3 << ' ' << D4;
    return text.str();
}

bool OknoSModulem::JeTextChyby(const QString& Text) const {
    for (int kod = 1; kod < 256; ++kod) {
        if (Text == " " + QString::fromStdString(TextKodu(RozhraniKV1726, kod))) return Text != TextUspechu();
    }
    return false;
}

void OknoSModulem::Klikni(QWidget* Okno, const QString& Tlacitko) {
    auto* tlacitko = Prvek<QPushButton>(Okno, Tlacitko);
    ASSERT_NE(tlacitko, nullptr);
    QTest::mouseClick(tlacitko, Qt::LeftButton);
    kvtest::DokonciPraci();
}

void OknoSModulem::NicBezSpojeni(QWidget* Okno) {
    const uint32_t pred = Pozadavky();
    Data.Pripojeno = 0;
    for (const QString& tlacitko : {QString("Button2"), QString("Button1")}) {
        Klikni(Okno, tlacitko);
        EXPECT_EQ(TextStavu(Okno), QString::fromUtf8(TextNepripojeno)) << tlacitko.toStdString();
    }
    EXPECT_EQ(Pozadavky(), pred);
    Data.Pripojeno = 1;
}

void OknoSModulem::Napis(QWidget* Okno, const QString& Edit, const QString& Text) {
    auto* edit = Prvek<QLineEdit>(Okno, Edit);
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, Text);
}

QString OknoSModulem::TextEditu(QWidget* Okno, const QString& Edit) {
    auto* edit = Prvek<QLineEdit>(Okno, Edit);
    return edit ? edit->text() : QString("<chybí>");
}

bool OknoSModulem::Zaskrtnuto(QWidget* Okno, int Box) {
    auto* box = Prvek<QCheckBox>(Okno, QString("CheckBox%1").arg(Box));
    return box && box->isChecked();
}

QStringList OknoSModulem::Prubeh(bool Zapis, const std::vector<int>& Procenta) {
    const QString zacatek = Zapis ? " Probíhá zápis konfigurace do modulu (" : " Probíhá čtení konfigurace z modulu (";
    QStringList texty{zacatek + "0 %)"};
    for (int n : Procenta) texty.append(zacatek + QString::number(n) + " %)");
    texty.append(Zapis ? " Konfigurace zapsána." : " Konfigurace přečtena.");
    return texty;
}
