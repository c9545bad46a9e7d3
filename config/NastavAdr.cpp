#include "NastavAdr.h"

TForm12::TForm12(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form12");
    setWindowTitle("Nastavení komunikační adresy a rychlosti");
}
