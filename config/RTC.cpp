#include "RTC.h"

TForm3::TForm3(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form3");
    setWindowTitle("Nastavení hodinového obvodu RTC");
}
