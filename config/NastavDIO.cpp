#include "NastavDIO.h"

TForm14::TForm14(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form14");
    setWindowTitle("Nastavení digitálních vstupů/výstupů");
}
