#include "Citac619.h"

#include "Commands.h"
#include "Qxxx726.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int SirkaOkna = 345;
constexpr int VyskaOkna = 255;
constexpr int PocetCitacu = 4;
constexpr uint8_t KodChybyZapisu = 9;

const char* const TextImpulsMimo = " Impulsní číslo musí být v rozsahu 1-1000.";

}  // namespace

// The read-back carries the value just written, where a plain read sends 0,
// and follows the write without a pause.  Through the program's binding
// (PrenosDat): the counter window calls it on the connection worker, whose
// link that binding holds.
uint8_t ZapisBajt(uint8_t Rozhrani, int32_t Handle, uint8_t Adresa, uint8_t Registr, uint8_t Hodnota,
                  std::string& Zprava) {
    // Without a link PrenosDat sends nothing and tells nothing.
    if (Handle == 0) {
        Zprava = TextKodu(Rozhrani, kv618::NotInitialised);
        return kv618::NotInitialised;
    }
    TOdpoved odpoved{};
    uint8_t chyba = 0, d0 = 0, d1 = Registr, d2 = Registr, d3 = Hodnota, d4 = Hodnota;
    PrenosDat(Rozhrani, Handle, Adresa, wire::function::WriteRegister, 0, d0, d1, d2, d3, d4, chyba, odpoved);
    if (chyba == 0) {
        d0 = 0, d1 = d2 = Registr, d3 = d4 = Hodnota;
        PrenosDat(Rozhrani, Handle, Adresa, wire::function::ReadRegister, 0, d0, d1, d2, d3, d4, chyba, odpoved);
    }
    if (chyba != 0) {
        Zprava = TextKodu(Rozhrani, chyba);
        return chyba;
    }
    if (d3 != Hodnota) {
        Zprava = TextChybaZapisu;
        return KodChybyZapisu;
    }
    Zprava.clear();
    return 0;
}

kv618::RegisterWrite TForm5::ZapisRegistru() const {
    return [](const kv618::Module& Modul, uint8_t Registr, uint8_t Hodnota) {
        const kv618::Link& spojeni = Modul.GetLink();
        std::string zprava;
        const uint8_t vysledek = ZapisBajt(spojeni.type, spojeni.handle, Modul.Address(), Registr, Hodnota, zprava);
        // 9 is no code of the link's: it is the read-back's other byte.
        if (vysledek == KodChybyZapisu) return kv618::WriteCheck{.mismatch = true};
        return kv618::WriteCheck{.error = vysledek};
    };
}

TForm5::TForm5(QWidget* Owner)
    : TKonfiguracniOkno(Owner, QStringLiteral("Form5"), QStringLiteral("Nastavení čítačů KV-619"), SirkaOkna, VyskaOkna, kv618::Block::PulseNumbers) {
    for (int n = 0; n < PocetCitacu; ++n) {
        auto* label = new QLabel(QStringLiteral("Čítač %1").arg(n), this);
        label->setObjectName(QStringLiteral("Label%1").arg(n + 1));
        label->setGeometry(48, 48 + n * 32, 80, 17);
        Labely[static_cast<size_t>(n)] = label;

        auto* edit = new QLineEdit(QStringLiteral("Edit%1").arg(n + 1), this);
        edit->setObjectName(QStringLiteral("Edit%1").arg(n + 1));
        edit->setGeometry(160, 44 + n * 32, 121, 23);
        Edity[static_cast<size_t>(n)] = edit;
    }
    Labely[4] = new QLabel(QStringLiteral("Impulsní číslo"), this);
    Labely[4]->setObjectName("Label5");
    Labely[4]->setGeometry(160, 20, 121, 17);

    VytvorTlacitka(8, 186, 75, 84);
}

bool TForm5::PrectiOkno(TKonfigurace& Data) {
    for (int n = 0; n < PocetCitacu; ++n) {
        uint16_t cislo = 0;
        if (!CtiCislo(Edity[static_cast<size_t>(n)]->text().toStdString(), 1, 1000, cislo)) {
            return Odmitni(TextImpulsMimo);
        }
        Data.ImpulsniCislo[n] = cislo;
    }
    return Prijmi();
}

void TForm5::ZapisOkno(TKonfigurace Data) {
    for (int n = 0; n < PocetCitacu; ++n)
        Edity[static_cast<size_t>(n)]->setText(QString::number(Data.ImpulsniCislo[n]));
}
