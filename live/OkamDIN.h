// Live view of the module's 32 digital inputs.
#pragma once

#include "BitWindow.h"

#include <QString>

#include <cstdint>

class QPushButton;

// "1" when the bit (0-7) of the value is set, "0" when it is clear.
QString BitNaText(uint8_t Hodnota, int Bit);

class TForm11 : public BitWindow {
    Q_OBJECT
public:
    explicit TForm11(QWidget* Owner = nullptr);

    QPushButton* Button1 = nullptr;

public slots:
    void Button1Click();
};
