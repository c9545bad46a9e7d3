#include "Citac619.h"

TForm5::TForm5(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form5");
    setWindowTitle("Nastavení čítačů KV-619");
}
