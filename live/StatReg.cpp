#include "StatReg.h"

#include "OkamDIN.h"
#include "OknoHodnot.h"
#include "StatusBar.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int IntervalCteni = 500;  // ms

std::array<QString, 32> NazvyBitu() {
    std::array<QString, 32> nazvy;
    nazvy.fill("---");
    nazvy[1] = "FN";
    nazvy[2] = "PRF";
    nazvy[4] = "PWR";
    nazvy[5] = "RST";
    nazvy[6] = "ERR24";
    return nazvy;
}
}  // namespace

TForm15::TForm15(QWidget* Owner) : ModuleWindow(Owner) {
    setObjectName("Form15");
    setWindowTitle("Status registr");

    Button2 = VytvorTlacitko(this, "Button2", "Vynulovat");
    Button1 = VytvorTlacitko(this, "Button1", "Cancel");
    StatusBar1 = SestavOkno(this, PostavSloupceBitu(this, NazvyBitu(), Hodnoty), RadaTlacitek(Button2, Button1));
    Timer1 = VytvorCasovac(this, IntervalCteni);

    connect(Button1, &QPushButton::clicked, this, &TForm15::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);
    connect(Timer1, &QTimer::timeout, this, &TForm15::Timer1Timer);

    UpevniAVycentruj(this, Owner);
    FormCreate();
    Timer1->start();
}

void TForm15::FormCreate() { AdresaModulu = 0; }

void TForm15::FormShow() {
    if (PData) AdresaModulu = PData->Adresa;
}

void TForm15::Timer1Timer() {
    if (!MuzeMluvit()) return;
    Pozadavky.Posli(
        this, AdresaModulu, [](const kv618::Module& m) { return m.ReadStatusBytes(); },
        [](TForm15* okno, const auto& v) {
            if (v.Uspech()) ZobrazBity(okno->Hodnoty, v.Vysledek.value);
            okno->StatusBar1->NastavNovyText(0, v.Text);
        });
}

// A successful reset changes nothing on screen: the next poll shows the
// register as the module has it then.
// A reset pressed while a poll is out goes right after it.
void TForm15::Button2Click() {
    if (!MuzeMluvit()) return;
    Nulovani.Zarad(this, AdresaModulu, [](const kv618::Module& m) { return m.ResetStatus(); }, QString(),
                   [](TForm15* okno, const auto& v) {
                       if (!v.Uspech()) okno->StatusBar1->NastavText(0, v.Text);
                   });
}

void TForm15::Button1Click() { close(); }
