// Live view of the module's status register, and its reset.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <QDialog>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

class TForm15 : public QDialog {
    Q_OBJECT
public:
    explicit TForm15(QWidget* Owner = nullptr);
    ~TForm15() override;

    TData* PData = nullptr;
    uint8_t AdresaModulu = 0;

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;

public slots:
    void FormCreate();
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();
    void done(int Vysledek) override;

protected:
    void showEvent(QShowEvent* Udalost) override;

private:
    void ZobrazBity(const std::array<uint8_t, 4>& D);

    std::array<QLabel*, 32> Hodnoty{};  // Label33..Label64

public:
    TPozadavky Pozadavky;  // the polls
    TPozadavky Nulovani;   // "Vynulovat"
};
