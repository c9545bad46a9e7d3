// Live view of the module's status register, and its reset.
#pragma once

#include "BitWindow.h"

class QPushButton;

class TForm15 : public BitWindow {
    Q_OBJECT
public:
    explicit TForm15(QWidget* Owner = nullptr);

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void Button1Click();
    void Button2Click();

public:
    TPozadavky Nulovani;  // "Vynulovat"
};
