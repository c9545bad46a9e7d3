#include "NastavDIO.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

namespace {

constexpr int SirkaOkna = 526;
constexpr int VyskaOkna = 398;
constexpr int KanaluVeSkupine = 32;

constexpr int SirkaSkupiny = 166;
constexpr int VyskaSkupiny = 306;
constexpr int RadekBoxu = 17;
constexpr int MezeraPoOsmi = 8;

}  // namespace

TForm14::TForm14(QWidget* Owner)
    : TKonfiguracniOkno(Owner, QStringLiteral("Form14"), QStringLiteral("Nastavení digitálních vstupů/výstupů"),
                        SirkaOkna, VyskaOkna, kv618::Block::InputsOutputs) {
    VytvorSkupinu(0, QStringLiteral(" Negace DIN "), QStringLiteral("DIN"), 8);
    VytvorSkupinu(1, QStringLiteral("Negace DOUT "), QStringLiteral("DOUT"), 180);
    VytvorSkupinu(2, QStringLiteral(" Počáteční stav DOUT "), QStringLiteral("DOUT"), 352);

    VytvorTlacitka(56, 326, 91, 108);
}

// Channels 0-15 in the left column, 16-31 in the right, each column split
// after its eighth box so that bytes read apart.
void TForm14::VytvorSkupinu(int Skupina, const QString& Titulek, const QString& Predpona, int X) {
    auto* skupina = new QGroupBox(Titulek, this);
    skupina->setObjectName(QStringLiteral("GroupBox%1").arg(Skupina + 1));
    skupina->setGeometry(X, 8, SirkaSkupiny, VyskaSkupiny);
    GroupBoxy[static_cast<size_t>(Skupina)] = skupina;

    for (int kanal = 0; kanal < KanaluVeSkupine; ++kanal) {
        const int cislo = Skupina * KanaluVeSkupine + kanal + 1;
        auto* box = new QCheckBox(Predpona + QString::number(kanal), skupina);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(cislo));
        const int sloupec = kanal / 16;
        const int radek = kanal % 16;
        const int y = 22 + radek * RadekBoxu + (radek >= 8 ? MezeraPoOsmi : 0);
        box->setGeometry(12 + sloupec * 78, y, 72, RadekBoxu);
        CheckBoxy[static_cast<size_t>(cislo - 1)] = box;
    }
}

bool TForm14::PrectiOkno(TKonfigurace& Data) {
    uint8_t* const Pole[3] = {Data.NegaceDIN, Data.NegaceDOUT, Data.PocatecniDOUT};
    for (int skupina = 0; skupina < 3; ++skupina) {
        for (int bajt = 0; bajt < 4; ++bajt) Pole[skupina][bajt] = 0;
        for (int kanal = 0; kanal < KanaluVeSkupine; ++kanal) {
            if (CheckBoxy[static_cast<size_t>(skupina * KanaluVeSkupine + kanal)]->isChecked())
                Pole[skupina][kanal / 8] |= static_cast<uint8_t>(1u << (kanal % 8));
        }
    }
    return Prijmi();
}

void TForm14::ZapisOkno(TKonfigurace Data) {
    const uint8_t* const Pole[3] = {Data.NegaceDIN, Data.NegaceDOUT, Data.PocatecniDOUT};
    for (int skupina = 0; skupina < 3; ++skupina) {
        for (int kanal = 0; kanal < KanaluVeSkupine; ++kanal) {
            const bool nastaven = (Pole[skupina][kanal / 8] >> (kanal % 8)) & 1u;
            CheckBoxy[static_cast<size_t>(skupina * KanaluVeSkupine + kanal)]->setChecked(nastaven);
        }
    }
}
