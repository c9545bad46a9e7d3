#include "OkamDIN.h"

#include "OknoHodnot.h"
#include "StatusBar.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int IntervalCteni = 100;  // ms
}  // namespace

QString BitNaText(uint8_t Hodnota, int Bit) {
    if (Bit < 0 || Bit > 7) return "0";
    return (Hodnota >> Bit) & 1U ? "1" : "0";
}

TForm11::TForm11(QWidget* Owner) : ModuleWindow(Owner) {
    setObjectName("Form11");
    setWindowTitle("Okamžité hodnoty digitálních vstupů");

    std::array<QString, 32> nazvy;
    for (int n = 0; n < 32; ++n) nazvy[static_cast<size_t>(n)] = QString("DIN%1").arg(n);

    Button1 = VytvorTlacitko(this, "Button1", "Cancel");
    StatusBar1 = SestavOkno(this, PostavSloupceBitu(this, nazvy, Hodnoty), RadaTlacitek(nullptr, Button1));
    Timer1 = VytvorCasovac(this, IntervalCteni);

    connect(Button1, &QPushButton::clicked, this, &TForm11::Button1Click);
    connect(Timer1, &QTimer::timeout, this, &TForm11::Timer1Timer);

    UpevniAVycentruj(this, Owner);
    FormCreate();
    Timer1->start();
}

void TForm11::FormCreate() { AdresaModulu = 0; }

void TForm11::FormShow() {
    if (PData) AdresaModulu = PData->Adresa;
}

void TForm11::Button1Click() { close(); }

void TForm11::Timer1Timer() {
    if (!MuzeMluvit()) return;
    Pozadavky.Posli(
        this, AdresaModulu, [](const kv618::Module& m) { return m.ReadInputBytes(); },
        [](TForm11* okno, const auto& v) {
            if (v.Uspech()) ZobrazBity(okno->Hodnoty, v.Vysledek.value);
            okno->StatusBar1->NastavNovyText(0, v.Text);
        });
}
