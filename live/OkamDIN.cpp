#include "OkamDIN.h"

TForm11::TForm11(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form11");
    setWindowTitle("Okamžité hodnoty digitálních vstupů");
}
