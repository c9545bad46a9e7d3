// Connection dialog: the operator chooses the interface, its parameters, the
// module address and the speed; "Inicializace připojení" binds the interface
// library, identifies the module and records the link in TData.
#pragma once

#include "Dekl.h"
#include "Interfaces.h"
#include "LinkWorker.h"

#include <QDialog>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <cstdint>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
struct TVysledekPokusu;

// Four identification reply bytes (Windows-1250 codes) as UTF-8 text, a 0
// byte standing as a blank.
std::string ZnakyIdentifikace(uint8_t D1, uint8_t D2, uint8_t D3, uint8_t D4);

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* Owner = nullptr);
    TData* PData = nullptr;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLabel* Panel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    // Closing stops an attempt to connect that is under way.
    void done(int Vysledek) override;

public slots:
    void FormShow();
    void ComboBox2Change();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* Udalost) override;

private:
    void VytvorOvladace();
    QLabel* Popisek(const char* Jmeno, const QString& Text, int Y);
    QLineEdit* Pole(const char* Jmeno, int Y);
    void ZobrazParametry(int Rozhrani);
    void NastavPanel(const QString& Text);

    // The label and field of the interface's first, second and third parameter.
    std::array<std::pair<QLabel*, QLineEdit*>, 3> PoleParametru() const;
    bool PripravParametry();
    std::optional<intptr_t> PripravParametr(const kv618::Parameter& Parametr, QLineEdit* Pole);
    void Neuspech(const QString& Text);
    void UzavriStareSpojeni();
    void PoPokusu(const StopFlag& Pokus, const TVysledekPokusu& V, uint8_t Adresa, int32_t Rychlost);

    // The attempt to connect under way on the connection worker, if any:
    // set when the dialog closes.
    StopFlag Pokus_;
};
