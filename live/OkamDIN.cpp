#include "OkamDIN.h"

#include <QPushButton>

namespace {
constexpr int IntervalCteni = 100;  // ms
}  // namespace

QString BitNaText(uint8_t Hodnota, int Bit) {
    if (Bit < 0 || Bit > 7) return "0";
    return (Hodnota >> Bit) & 1U ? "1" : "0";
}

TForm11::TForm11(QWidget* Owner) : BitWindow(Owner, &kv618::Module::ReadInputBytes) {
    setObjectName("Form11");
    setWindowTitle("Okamžité hodnoty digitálních vstupů");

    std::array<QString, 32> nazvy;
    for (int n = 0; n < 32; ++n) nazvy[static_cast<size_t>(n)] = QString("DIN%1").arg(n);

    Button1 = VytvorTlacitko(this, "Button1", "Cancel");
    Sestav(Owner, nazvy, nullptr, Button1, IntervalCteni);
    connect(Button1, &QPushButton::clicked, this, &TForm11::Button1Click);
}

void TForm11::Button1Click() { close(); }
