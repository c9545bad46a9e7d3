#include "Okno.h"

#include "StatusBar.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTimer>

bool OverPripojeni(const TData* Data, TStatusBar* StatusBar) {
    if (JePripojeno(Data)) return true;
    StatusBar->NastavText(0, QString::fromUtf8(TextNepripojeno));
    return false;
}

QPushButton* VytvorTlacitko(QWidget* Okno, const QString& Jmeno, const QString& Text) {
    auto* tlacitko = new QPushButton(Text, Okno);
    tlacitko->setObjectName(Jmeno);
    tlacitko->setAutoDefault(false);
    return tlacitko;
}

QFrame* VytvorPanel(QWidget* Owner, const QString& Jmeno) {
    auto* panel = new QFrame(Owner);
    panel->setObjectName(Jmeno);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    QPalette paleta = panel->palette();
    paleta.setColor(QPalette::Window, Qt::white);
    paleta.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(paleta);
    panel->setAutoFillBackground(true);
    return panel;
}

QLabel* VytvorPopisek(QWidget* Owner, const QString& Jmeno, const QString& Text) {
    auto* popisek = new QLabel(Text, Owner);
    popisek->setObjectName(Jmeno);
    return popisek;
}

QTimer* VytvorCasovac(QObject* Okno, int IntervalMs) {
    auto* casovac = new QTimer(Okno);
    casovac->setObjectName("Timer1");
    casovac->setTimerType(Qt::PreciseTimer);
    casovac->setInterval(IntervalMs);
    return casovac;
}

TStatusBar* SpodniStatusBar(QWidget* Okno, int Sirka, int Vyska) {
    auto* statusBar = new TStatusBar(Okno, {0});
    statusBar->ZalamujText(2);
    const int vyskaStavu = statusBar->sizeHint().height();
    statusBar->setGeometry(0, Vyska - vyskaStavu, Sirka, vyskaStavu);
    return statusBar;
}
