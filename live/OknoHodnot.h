// Pieces shared by the live value windows: their columns of bits, their row
// of buttons and their placement (what every window builds is in ui/Okno.h).
#pragma once

#include "Dekl.h"
#include "ModuleWindow.h"
#include "Okno.h"
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

// Four columns of eight rows: each a column of name labels `Label1`..`Label32`
// beside a white panel `Panel1`..`Panel4` with the value labels
// `Label33`..`Label64`, all showing "0".
QLayout* PostavSloupceBitu(QWidget* Okno, const std::array<QString, 32>& Nazvy,
                           std::array<QLabel*, 32>& Hodnoty);

// The 32 value labels from four bytes, D1 first, bit 0 first: "1" or "0".
void ZobrazBity(const std::array<QLabel*, 32>& Hodnoty, const std::array<uint8_t, 4>& D);

// The row of buttons at the bottom: one at the left (may be null), one at the right.
QHBoxLayout* RadaTlacitek(QPushButton* Vlevo, QPushButton* Vpravo);

// Lays the dialog out: the content above the row of buttons, and below both
// the one-panel status bar, which it returns.
TStatusBar* SestavOkno(QDialog* Okno, QLayout* Obsah, QHBoxLayout* Tlacitka);

// Fixes the dialog's size to what its layout needs (at least the given size)
// and puts it in the middle of the screen.
void UpevniAVycentruj(QDialog* Okno, QWidget* Owner, int MinSirka = 0, int MinVyska = 0);
