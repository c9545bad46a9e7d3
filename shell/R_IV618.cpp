// R_IV618: set-up and monitoring tool for the KV-618 module.
#include "Hlavni.h"

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
    TAplikace aplikace(argc, argv);
    TForm1 Form1;
    Form1.show();
    return aplikace.exec();
}
