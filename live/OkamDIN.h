// Live view of the module's 32 digital inputs.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <QString>

#include <array>
#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TStatusBar;

// "1" when the bit (0-7) of the value is set, "0" when it is clear.
QString BitNaText(uint8_t Hodnota, int Bit);

class TForm11 : public ModuleWindow {
    Q_OBJECT
public:
    explicit TForm11(QWidget* Owner = nullptr);

    QPushButton* Button1 = nullptr;

public slots:
    void FormCreate();
    void FormShow() override;
    void Button1Click();
    void Timer1Timer();

private:
    std::array<QLabel*, 32> Hodnoty{};  // Label33..Label64

public:
    TPozadavky Pozadavky;
};
