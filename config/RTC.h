// Real-time clock window: polls the module's clock, shows the two
// power-failure time stamps read once per opening (or that the module holds
// none), and sets the module's clock to the computer's local time.
#pragma once

#include "Dekl.h"
#include "ModuleWindow.h"
#include "Module.h"
#include "Pozadavky.h"

#include <QString>
#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

// Shown in place of a power-failure time when the module holds none.
inline constexpr const char* TextNezaznamenano = "nezaznamenán";

class TForm3 : public ModuleWindow {
    Q_OBJECT
public:
    explicit TForm3(QWidget* Owner = nullptr);

    bool VypadkyNacteny = false;

    // A tick's reads stop after the exchange in flight when the window closes.
    void done(int Vysledek) override;

public slots:
    void FormShow() override;
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

private:
    QLabel* VytvorLabel(const QString& Jmeno, const QString& Text, QWidget* Rodic, int X, int Y, int Sirka);
    QFrame* VytvorPanel(const QString& Jmeno, int X, int Y, int Sirka, int Vyska);

    void NastavStatus(const QString& Text);

    QLabel* LabelSkupiny(uint8_t Skupina) const;
    // Both power-failure rows say that the module holds none.
    void ZadnyVypadek();

    std::array<QLabel*, 9> Labely{};   // Label1 .. Label9
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

public:
    TPozadavky Pozadavky;  // the polls
    TPozadavky Nastaveni;  // "Nastavit čas"

private:
    StopFlag Zastavit_ = NewStopFlag();  // the tick's reads out now
};
