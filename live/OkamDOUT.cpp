#include "OkamDOUT.h"

#include "OknoHodnot.h"
#include "StatusBar.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QPushButton>

TForm9::TForm9(QWidget* Owner) : ModuleWindow(Owner) {
    setObjectName("Form9");
    setWindowTitle("Zápis na digitální výstupy");

    auto* sloupce = new QHBoxLayout;
    sloupce->setSpacing(18);
    for (int sloupec = 0; sloupec < 4; ++sloupec) {
        auto* radky = new QVBoxLayout;
        radky->setSpacing(4);
        for (int radek = 0; radek < 8; ++radek) {
            const int n = sloupec * 8 + radek;
            auto* box = new QCheckBox(QString("DOUT%1").arg(n), this);
            box->setObjectName(QString("CheckBox%1").arg(n + 1));
            box->setTristate(false);
            box->setChecked(false);
            radky->addWidget(box);
            CheckBox[static_cast<size_t>(n)] = box;
        }
        sloupce->addLayout(radky);
    }

    Button1 = VytvorTlacitko(this, "Button1", "Zapsat");
    Button2 = VytvorTlacitko(this, "Button2", "Cancel");
    StatusBar1 = SestavOkno(this, sloupce, RadaTlacitek(Button1, Button2));

    QWidget* predchozi = CheckBox[0];
    for (size_t i = 1; i < CheckBox.size(); ++i) {
        setTabOrder(predchozi, CheckBox[i]);
        predchozi = CheckBox[i];
    }
    setTabOrder(predchozi, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm9::Button2Click);

    UpevniAVycentruj(this, Owner);
    FormCreate();
}

void TForm9::FormCreate() { AdresaModulu = 0; }

void TForm9::FormShow() {
    if (PData) AdresaModulu = PData->Adresa;
}

// A press while the previous write is still out sends the boxes as they
// are now right after it.
void TForm9::Button1Click() {
    if (!MuzeMluvit()) return;
    const uint32_t vystupy = kv618::Number(StavyVystupu());
    Zapisy.Zarad(
        this, AdresaModulu, [vystupy](const kv618::Module& m) { return m.WriteOutputs(vystupy); },
        QStringLiteral(" Data zapsána"), [](TForm9* okno, const auto& v) { okno->StatusBar1->NastavText(0, v.Text); });
}

void TForm9::Button2Click() { close(); }

std::array<uint8_t, 4> TForm9::StavyVystupu() const {
    std::array<uint8_t, 4> d{};
    for (size_t n = 0; n < CheckBox.size(); ++n) {
        if (CheckBox[n]->isChecked()) d[n / 8] = static_cast<uint8_t>(d[n / 8] | (1U << (n % 8)));
    }
    return d;
}
