// Counter module window: the pulse numbers of the four counters of the
// counter extension, each kept in the module as a low and a high byte.
#pragma once

#include "KonfiguracniOkno.h"

#include <array>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// Writes one configuration register and reads it back.  0 on success with an
// empty message; otherwise the exchange's error code, or 9 when the module
// holds another value than written, with the text to show.
uint8_t ZapisBajt(uint8_t Rozhrani, int32_t Handle, uint8_t Adresa, uint8_t Registr, uint8_t Hodnota,
                  std::string& Zprava);

class TForm5 : public TKonfiguracniOkno {
    Q_OBJECT
public:
    explicit TForm5(QWidget* Owner = nullptr);

    bool PrectiOkno(TKonfigurace& Data) override;
    void ZapisOkno(TKonfigurace Data) override;

protected:
    // Each register through ZapisBajt.
    kv618::RegisterWrite ZapisRegistru() const override;

private:
    std::array<QLabel*, 5> Labely{};
    std::array<QLineEdit*, 4> Edity{};
};
