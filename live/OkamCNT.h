// Live view of the twenty quantities of the counter extension, and the
// reset of its four counters.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

class TForm6 : public ModuleWindow {
    Q_OBJECT
public:
    static constexpr int PocetVelicin = 20;
    // Sub-code of the quantity that tick `Krok` reads.
    static uint8_t PodfunkceKroku(int Krok);

    explicit TForm6(QWidget* Owner = nullptr);

    uint8_t Krok = 0;

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FormShow() override;
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

private:
    // Label5..Label20, Label26..Label29, in the order of Krok.
    std::array<QLabel*, PocetVelicin> Hodnoty{};

public:
    TPozadavky Pozadavky;  // the polls
    TPozadavky Nulovani;   // "Nulovat"
};
