#include "OkamCNT.h"

TForm6::TForm6(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form6");
    setWindowTitle("Okamžité hodnoty čítačů");
}
