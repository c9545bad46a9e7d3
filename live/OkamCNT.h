// Live view of the twenty quantities of the counter extension, and the
// reset of its four counters.
#pragma once

#include "Dekl.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

class TForm6 : public QDialog {
    Q_OBJECT
public:
    static constexpr int PocetVelicin = 20;
    // Sub-code of each quantity in reading order (the value of Krok): the
    // columns left to right, so 0x84-0x87 come after 0x88-0x8B.
    static constexpr std::array<uint8_t, PocetVelicin> Podfunkce = {
        0x50, 0x51, 0x52, 0x53, 0x80, 0x81, 0x82, 0x83, 0x88, 0x89,
        0x8A, 0x8B, 0x84, 0x85, 0x86, 0x87, 0x9C, 0x9D, 0x9E, 0x9F};

    explicit TForm6(QWidget* Owner = nullptr);
    ~TForm6() override;

    TData* PData = nullptr;
    uint8_t AdresaModulu = 0;
    uint8_t Krok = 0;

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;

public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();
    void done(int Vysledek) override;

protected:
    void showEvent(QShowEvent* Udalost) override;

private:
    // Label5..Label20, Label26..Label29, in the order of Krok.
    std::array<QLabel*, PocetVelicin> Hodnoty{};
    bool Zaneprazdneno = false;
};
