// R_IV618: set-up and monitoring tool for the KV-618 module.
#include "Dekl.h"
#include "Hlavni.h"
#include "PrikazovyRadek.h"
#include "kv_version.h"

#include <QApplication>
#include <exception>
#include <iostream>

namespace {

// An error escaping a window's handler is reported and the program goes on,
// as the windows themselves never end it.
class TAplikace : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Prijemce, QEvent* Udalost) override {
        try {
            return QApplication::notify(Prijemce, Udalost);
        } catch (const std::exception& e) {
            std::cerr << "R_IV618: " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "R_IV618: neznámá chyba" << std::endl;
        }
        return false;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName("R_IV618");
    QCoreApplication::setApplicationVersion(KV_VERSION);
    TPrikazovyRadek prikazy;
    if (const auto konec = PredbeznyPrikazovyRadek(argc, argv, prikazy)) return *konec;
    if (!prikazy.Nastaveni.empty()) NastavCestuNastaveni(prikazy.Nastaveni);

    TAplikace aplikace(argc, argv);
    // The desktop matches the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName("r_iv618");

    TForm1 Form1;
    Form1.show();
    ZavriAzBudeVidetZadaLiSeTo(Form1);
    return aplikace.exec();
}
