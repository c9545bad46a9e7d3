// Setting the module's 32 digital outputs.
#pragma once

#include "Dekl.h"
#include "OknoHodnot.h"

#include <array>
#include <cstdint>

class QCheckBox;
class QPushButton;
class TStatusBar;

class TForm9 : public ModuleWindow {
    Q_OBJECT
public:
    explicit TForm9(QWidget* Owner = nullptr);

    std::array<QCheckBox*, 32> CheckBox{};  // CheckBox1..CheckBox32
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public slots:
    void FormCreate();
    void FormShow() override;
    void Button1Click();
    void Button2Click();

private:
    std::array<uint8_t, 4> StavyVystupu() const;

public:
    TPozadavky Zapisy;
};
