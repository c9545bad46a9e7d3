// Digital input/output configuration window: negation of the 32 inputs and
// 32 outputs and the outputs' initial states, twelve one-byte registers.
#pragma once

#include "KonfiguracniOkno.h"

#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;

class TForm14 : public TKonfiguracniOkno {
    Q_OBJECT
public:
    explicit TForm14(QWidget* Owner = nullptr);

    bool PrectiOkno(TKonfigurace& Data) override;
    void ZapisOkno(TKonfigurace Data) override;

private:
    void VytvorSkupinu(int Skupina, const QString& Titulek, const QString& Predpona, int X);

    std::array<QGroupBox*, 3> GroupBoxy{};
    // CheckBox1 .. CheckBox96 at index 0 .. 95.
    std::array<QCheckBox*, 96> CheckBoxy{};
};
