#include "ModuleWindow.h"

#include "Okno.h"

#include <QShowEvent>
#include <QTimer>

void ModuleWindow::done(int Result) {
    if (Timer1) Timer1->stop();
    closed_ = true;
    QDialog::done(Result);
}

void ModuleWindow::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (Event->spontaneous()) return;
    closed_ = false;
    FormShow();
    // A dialog shown again after it was closed polls again.
    if (Timer1 && !Timer1->isActive()) Timer1->start();
}

bool ModuleWindow::MuzeMluvit() { return PData && OverPripojeni(PData, StatusBar1); }
