// Live view of the module's status register, and its reset.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

class TForm15 : public ModuleWindow {
    Q_OBJECT
public:
    explicit TForm15(QWidget* Owner = nullptr);

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FormCreate();
    void FormShow() override;
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

private:
    std::array<QLabel*, 32> Hodnoty{};  // Label33..Label64

public:
    TPozadavky Pozadavky;  // the polls
    TPozadavky Nulovani;   // "Vynulovat"
};
