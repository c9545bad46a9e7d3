// What the two windows that show a 32-bit word of the module bit by bit (the
// inputs, the status register) are alike: four columns of bits, the
// module's address taken when shown, and each tick one read of the word.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <QString>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;

class BitWindow : public ModuleWindow {
    Q_OBJECT
public:
    // How the window reads its four bytes, D1 first.
    using Cteni = kv618::Result<std::array<uint8_t, 4>> (kv618::Module::*)() const;

public slots:
    void FormCreate();
    void FormShow() override;
    void Timer1Timer();

public:
    TPozadavky Pozadavky;  // the polls

protected:
    BitWindow(QWidget* Owner, Cteni Jak);
    // Lays the window out (the bits named `Nazvy` above the row of buttons,
    // the status bar below), sizes and places it, and starts polling every
    // `IntervalMs`.
    void Sestav(QWidget* Owner, const std::array<QString, 32>& Nazvy, QPushButton* Vlevo, QPushButton* Vpravo,
                int IntervalMs);

private:
    std::array<QLabel*, 32> Hodnoty{};  // Label33..Label64
    Cteni Cteni_;
};
