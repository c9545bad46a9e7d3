// The program's command line: --help, --version, --settings FILE.
#pragma once

#include <optional>
#include <string>

class QWidget;

struct TPrikazovyRadek {
    std::string Nastaveni;  // --settings FILE, absolute; empty: the usual place
};

// Reads the whole command line, Qt's own options included, before any
// window or display exists.  Gives the exit code when the program is to end
// here (help, version; 2 with the usage for a wrong option or argument),
// nothing when it goes on.
std::optional<int> PredbeznyPrikazovyRadek(int argc, char* argv[], TPrikazovyRadek& Vysledek);

// "R_IV618 1.04", each interface library with the version it reports and
// where it was found, and the settings file in use.
std::string TextVerze();

// With R_IV618_QUIT_WHEN_SHOWN set, closes the window through its usual
// close (settings saved, link closed) as soon as it is on the screen: for
// measuring the time to the first window, and for the install test.
void ZavriAzBudeVidetZadaLiSeTo(QWidget& Okno);
