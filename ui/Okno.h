// What every window of the program builds alike: the connection rule with its
// message, buttons, white value panels, labels, the polling timer and the
// status bar at the foot of a fixed-size window.
#pragma once

#include "Dekl.h"

#include <QString>

class QFrame;
class QLabel;
class QObject;
class QPushButton;
class QTimer;
class QWidget;
class TStatusBar;

// True when the window may talk to the module; otherwise the connection
// text is already in the status bar.
bool OverPripojeni(const TData* Data, TStatusBar* StatusBar);

QPushButton* VytvorTlacitko(QWidget* Okno, const QString& Jmeno, const QString& Text);
// White frame with a lowered bevel that holds value labels.
QFrame* VytvorPanel(QWidget* Owner, const QString& Jmeno);
QLabel* VytvorPopisek(QWidget* Owner, const QString& Jmeno, const QString& Text);

// The polling timer `Timer1`, precise so that the intervals hold; not started.
QTimer* VytvorCasovac(QObject* Okno, int IntervalMs);

// The one-panel status bar along the bottom of a window of fixed size; a
// library's error text, longer than the window is wide, wraps into two lines.
TStatusBar* SpodniStatusBar(QWidget* Okno, int Sirka, int Vyska);
