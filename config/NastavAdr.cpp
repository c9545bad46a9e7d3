#include "NastavAdr.h"

#include "Ranges.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int SirkaOkna = 393;
constexpr int VyskaOkna = 200;
constexpr int PocetRychlosti = static_cast<int>(wire::BaudRates.size());

const char* const TextAdresaMimo = " Adresa modulu musí být v rozsahu 0-255.";
const char* const TextRychlostMimo = " Komunikační rychlost musí být v rozsahu 600Bd-115200Bd.";

}  // namespace

TForm12::TForm12(QWidget* Owner)
    : TKonfiguracniOkno(Owner, QStringLiteral("Form12"), QStringLiteral("Nastavení komunikační adresy a rychlosti"),
                        SirkaOkna, VyskaOkna, kv618::Block::AddressAndBaud) {
    Label1 = new QLabel(QStringLiteral("Adresa modulu  (0-255)"), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(24, 28, 170, 17);

    Edit1 = new QLineEdit(QStringLiteral("Edit1"), this);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(208, 24, 161, 23);

    Label2 = new QLabel(QStringLiteral("Komunikační rychlost"), this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(24, 72, 170, 17);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(false);
    for (int i = 0; i < PocetRychlosti; ++i)
        ComboBox1->addItem(QString::number(RychlostZIndexu(static_cast<uint8_t>(i))) + QStringLiteral(" Bd"));
    ComboBox1->setCurrentIndex(4);
    ComboBox1->setGeometry(208, 68, 161, 23);

    VytvorTlacitka(16, 128, 81, 92);
}

bool TForm12::PrectiOkno(TKonfigurace& Data) {
    uint16_t adresa = 0;
    if (!CtiCislo(Edit1->text().toStdString(), kv618::LowestAddress, kv618::HighestAddress, adresa)) {
        return Odmitni(TextAdresaMimo);
    }
    Data.UlozenaAdresa = static_cast<uint8_t>(adresa);
    const int index = ComboBox1->currentIndex();
    if (index < 0 || index >= PocetRychlosti) {
        return Odmitni(TextRychlostMimo);
    }
    Data.UlozenaRychlost = static_cast<uint8_t>(index);
    return Prijmi();
}

void TForm12::ZapisOkno(TKonfigurace Data) {
    Edit1->setText(QString::number(Data.UlozenaAdresa));
    ComboBox1->setCurrentIndex(Data.UlozenaRychlost < PocetRychlosti ? Data.UlozenaRychlost : -1);
}
