#include "StatReg.h"

TForm15::TForm15(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form15");
    setWindowTitle("Status registr");
}
