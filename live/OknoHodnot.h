// Pieces shared by the live value windows: the exchange with the module as
// these windows use it, their white value panels and their placement.
#pragma once

#include "Dekl.h"
#include "Pozadavky.h"
#include "Module.h"

#include <QString>

#include <array>
#include <cstdint>

class QDialog;
class QFrame;
class QHBoxLayout;
class QLabel;
class QLayout;
class QObject;
class QPushButton;
class QTimer;
class QWidget;
class TStatusBar;

// The module at the window's address over the link in the record.
kv618::Module Modul(const TData& Data, uint8_t Adresa);

// True when the window may talk to the module; otherwise the connection
// text is already in the status bar.
bool OverPripojeni(const TData& Data, TStatusBar* StatusBar);

// White frame with a lowered bevel that holds a column of value labels.
QFrame* VytvorPanel(QWidget* Owner, const QString& Jmeno);
QLabel* VytvorPopisek(QWidget* Owner, const QString& Jmeno, const QString& Text);

// Four columns of eight rows: each a column of name labels `Label1`..`Label32`
// beside a white panel `Panel1`..`Panel4` with the value labels
// `Label33`..`Label64`, all showing "0".
QLayout* PostavSloupceBitu(QWidget* Okno, const std::array<QString, 32>& Nazvy,
                           std::array<QLabel*, 32>& Hodnoty);

QPushButton* VytvorTlacitko(QWidget* Okno, const QString& Jmeno, const QString& Text);

// The row of buttons at the bottom: one at the left (may be null), one at the right.
QHBoxLayout* RadaTlacitek(QPushButton* Vlevo, QPushButton* Vpravo);

// Lays the dialog out: the content above the row of buttons, and below both
// the one-panel status bar, which it returns.
TStatusBar* SestavOkno(QDialog* Okno, QLayout* Obsah, QHBoxLayout* Tlacitka);

// The polling timer `Timer1`, precise so that the intervals hold; not started.
QTimer* VytvorCasovac(QObject* Okno, int IntervalMs);

// Fixes the dialog's size to what its layout needs (at least the given size)
// and puts it in the middle of the screen.
void UpevniAVycentruj(QDialog* Okno, QWidget* Owner, int MinSirka = 0, int MinVyska = 0);
