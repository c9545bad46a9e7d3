// Address and baud-rate window: the module's stored bus address and baud
// rate.
#pragma once

#include "KonfiguracniOkno.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TForm12 : public TKonfiguracniOkno {
    Q_OBJECT
public:
    explicit TForm12(QWidget* Owner = nullptr);

    bool PrectiOkno(TKonfigurace& Data) override;
    void ZapisOkno(TKonfigurace Data) override;

private:
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
};
