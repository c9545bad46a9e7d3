#include "ZiveOkno.h"

#include "Qxxx726.h"
#include "StatusBar.h"

std::string ZiveOkno::Posledni() { return Emu->command("get last"); }

QString ZiveOkno::TextPopisku(QWidget* Okno, int Cislo) {
    auto* popisek = Prvek<QLabel>(Okno, QString("Label%1").arg(Cislo));
    return popisek ? popisek->text() : QString("<chybí>");
}
