#include "OkamDOUT.h"

TForm9::TForm9(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form9");
    setWindowTitle("Zápis na digitální výstupy");
}
