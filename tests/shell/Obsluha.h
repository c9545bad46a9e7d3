// What an operator does to a window in the tests: type, choose, click, and
// act inside a modal window that a menu command opened.
#pragma once

#include "TestFiles.h"

#include <QString>
#include <functional>
#include <string>

class QAbstractButton;
class QAction;
class QComboBox;
class QLineEdit;
class QMenu;
class QMenuBar;
class QWidget;

namespace obsluha {

// A folder of its own under /tmp, removed with everything in it.
class TDocasnaSlozka : public kvtest::TemporaryFolder {
public:
    TDocasnaSlozka() : kvtest::TemporaryFolder("kvshell") {}
    const std::string& Cesta() const { return path(); }
    std::string Soubor(const std::string& Jmeno) const { return path() + "/" + Jmeno; }
};

std::string CtiSoubor(const std::string& Cesta);
void ZapisSoubor(const std::string& Cesta, const std::string& Bajty);
bool Existuje(const std::string& Cesta);

// Replaces the field's text by typing, as an operator selects all and types.
void Napis(QLineEdit* Pole, const QString& Text);
// Moves the selection of a drop-down list with the keyboard.
void Zvol(QComboBox* Seznam, int Index);
void Klikni(QAbstractButton* Tlacitko);
// An item of a menu of the bar: a click on the bar opens the menu, the arrow
// keys and Enter choose the item.  (A click synthesized on the menu's item is
// taken by Qt 6.4 but passed over by Qt 6.8, which has seen no pointer move
// over the menu; the keys work alike in both.)
void VyberZMenu(QMenuBar* Lista, QMenu* Menu, QAction* Polozka);

// Runs `Akce` on the modal window as soon as one is open; the test then
// starts the command that opens it.  `Akce` must close the window.
void VModalnimOkne(std::function<void(QWidget*)> Akce);

}  // namespace obsluha
