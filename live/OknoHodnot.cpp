#include "OknoHodnot.h"

#include "OkamDIN.h"

#include "StatusBar.h"

#include <QDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>

QLayout* PostavSloupceBitu(QWidget* Okno, const std::array<QString, 32>& Nazvy,
                           std::array<QLabel*, 32>& Hodnoty) {
    // Name and value of a row must stay level although they sit in
    // different containers: every row gets the same fixed height, and the
    // names are moved down by the panel's frame and margin.
    constexpr int Okraj = 2;
    const int vyskaRadku = Okno->fontMetrics().height() + 3;
    int sirkaJmena = 0;
    for (const QString& nazev : Nazvy) sirkaJmena = std::max(sirkaJmena, Okno->fontMetrics().horizontalAdvance(nazev));
    auto* sloupce = new QHBoxLayout;
    sloupce->setSpacing(14);
    for (int sloupec = 0; sloupec < 4; ++sloupec) {
        auto* panel = VytvorPanel(Okno, QString("Panel%1").arg(sloupec + 1));
        auto* jmena = new QVBoxLayout;
        jmena->setSpacing(0);
        jmena->setContentsMargins(0, panel->frameWidth() + Okraj, 0, 0);
        auto* hodnoty = new QVBoxLayout(panel);
        hodnoty->setSpacing(0);
        hodnoty->setContentsMargins(8, Okraj, 8, Okraj);
        for (int radek = 0; radek < 8; ++radek) {
            const int n = sloupec * 8 + radek;
            auto* jmeno = VytvorPopisek(Okno, QString("Label%1").arg(n + 1), Nazvy[static_cast<size_t>(n)]);
            jmeno->setFixedHeight(vyskaRadku);
            jmeno->setMinimumWidth(sirkaJmena);
            jmena->addWidget(jmeno);
            auto* hodnota = VytvorPopisek(panel, QString("Label%1").arg(n + 33), "0");
            hodnota->setFixedHeight(vyskaRadku);
            hodnota->setAlignment(Qt::AlignCenter);
            hodnoty->addWidget(hodnota);
            Hodnoty[static_cast<size_t>(n)] = hodnota;
        }
        jmena->addStretch();
        auto* dvojice = new QHBoxLayout;
        dvojice->setSpacing(6);
        dvojice->addLayout(jmena);
        dvojice->addWidget(panel, 0, Qt::AlignTop);
        sloupce->addLayout(dvojice);
    }
    return sloupce;
}

void ZobrazBity(const std::array<QLabel*, 32>& Hodnoty, const std::array<uint8_t, 4>& D) {
    for (size_t n = 0; n < Hodnoty.size(); ++n) Hodnoty[n]->setText(BitNaText(D[n / 8], static_cast<int>(n % 8)));
}

QHBoxLayout* RadaTlacitek(QPushButton* Vlevo, QPushButton* Vpravo) {
    auto* rada = new QHBoxLayout;
    if (Vlevo) rada->addWidget(Vlevo);
    rada->addStretch();
    rada->addWidget(Vpravo);
    return rada;
}

TStatusBar* SestavOkno(QDialog* Okno, QLayout* Obsah, QHBoxLayout* Tlacitka) {
    auto* vnitrek = new QVBoxLayout;
    vnitrek->setContentsMargins(12, 12, 12, 8);
    vnitrek->setSpacing(12);
    vnitrek->addLayout(Obsah);
    vnitrek->addStretch();
    vnitrek->addLayout(Tlacitka);

    auto* statusBar = new TStatusBar(Okno, {0});
    // A library's error text is longer than the window is wide.
    statusBar->ZalamujText(2);
    auto* okno = new QVBoxLayout(Okno);
    okno->setContentsMargins(0, 0, 0, 0);
    okno->setSpacing(0);
    okno->addLayout(vnitrek);
    okno->addWidget(statusBar);
    return statusBar;
}

void UpevniAVycentruj(QDialog* Okno, QWidget* Owner, int MinSirka, int MinVyska) {
    if (QLayout* rozlozeni = Okno->layout()) rozlozeni->activate();
    const QSize potreba = Okno->sizeHint().expandedTo(QSize(MinSirka, MinVyska));
    Okno->setFixedSize(potreba);
    // The size is fixed from here on: a long text in the status bar is cut
    // off at the window's edge instead of widening the window.
    if (QLayout* rozlozeni = Okno->layout()) rozlozeni->setSizeConstraint(QLayout::SetNoConstraint);
    QScreen* obrazovka = Owner ? Owner->screen() : QGuiApplication::primaryScreen();
    if (!obrazovka) return;
    const QRect plocha = obrazovka->availableGeometry();
    Okno->move(plocha.center() - QPoint(potreba.width() / 2, potreba.height() / 2));
}
