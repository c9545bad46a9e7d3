#include "StatReg.h"

#include "StatusBar.h"

#include <QPushButton>

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

TForm15::TForm15(QWidget* Owner) : BitWindow(Owner, &kv618::Module::ReadStatusBytes) {
    setObjectName("Form15");
    setWindowTitle("Status registr");

    Button2 = VytvorTlacitko(this, "Button2", "Vynulovat");
    Button1 = VytvorTlacitko(this, "Button1", "Cancel");
    Sestav(Owner, NazvyBitu(), Button2, Button1, IntervalCteni);
    connect(Button1, &QPushButton::clicked, this, &TForm15::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm15::Button2Click);
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
