// R_IV618: set-up and monitoring tool for the KV-618 module.
#include "Dekl.h"
#include "Hlavni.h"
#include "PrikazovyRadek.h"
#include "kv_version.h"

#include <QApplication>
#include <cstdlib>
#include <cstring>
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

// Qt works in a UTF-8 character set and switches the C locale (a service, a
// script, env -i) to C.UTF-8 itself; Qt 6.8 also says so on standard error,
// ahead of --version's first line and of the usage.  Where the environment
// asks for C, the program asks for C.UTF-8 first: the same switch, without
// the warning.  Numbers and texts are the same in both.
void AskForUtf8InsteadOfC() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        if (std::strcmp(value, "C") == 0 || std::strcmp(value, "POSIX") == 0)
            ::setenv(std::strcmp(name, "LC_ALL") == 0 ? "LC_ALL" : "LC_CTYPE", "C.UTF-8", 1);
        return;
    }
    ::setenv("LC_CTYPE", "C.UTF-8", 1);
}

}  // namespace

int main(int argc, char* argv[]) {
    AskForUtf8InsteadOfC();
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
