#include "BitWindow.h"

#include "StatusBar.h"

#include <QLabel>
#include <QTimer>

BitWindow::BitWindow(QWidget* Owner, Cteni Jak) : ModuleWindow(Owner), Cteni_(Jak) {}

void BitWindow::Sestav(QWidget* Owner, const std::array<QString, 32>& Nazvy, QPushButton* Vlevo,
                       QPushButton* Vpravo, int IntervalMs) {
    StatusBar1 = SestavOkno(this, PostavSloupceBitu(this, Nazvy, Hodnoty), RadaTlacitek(Vlevo, Vpravo));
    Timer1 = VytvorCasovac(this, IntervalMs);
    connect(Timer1, &QTimer::timeout, this, &BitWindow::Timer1Timer);

    UpevniAVycentruj(this, Owner);
    FormCreate();
    Timer1->start();
}

void BitWindow::FormCreate() { AdresaModulu = 0; }

void BitWindow::FormShow() {
    if (PData) AdresaModulu = PData->Adresa;
}

void BitWindow::Timer1Timer() {
    if (!MuzeMluvit()) return;
    Pozadavky.Posli(
        this, AdresaModulu, [cteni = Cteni_](const kv618::Module& m) { return (m.*cteni)(); },
        [](BitWindow* okno, const auto& v) {
            if (v.Uspech()) ZobrazBity(okno->Hodnoty, v.Vysledek.value);
            okno->StatusBar1->NastavNovyText(0, v.Text);
        });
}
