// Real-time clock window: polls the module's clock, shows the two
// power-failure time stamps read once per opening, and sets the module's
// clock to the computer's local time.
#pragma once

#include "Dekl.h"
#include "Module.h"
#include "Pozadavky.h"
#include "StatusBar.h"

#include <QDialog>
#include <QString>
#include <array>
#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* Owner = nullptr);

    TData* PData = nullptr;
    uint8_t AdresaModulu = 0;
    bool VypadkyNacteny = false;

    // A closed window stops polling, however it was closed.
    void done(int Vysledek) override;

public slots:
    void FormShow();
    void Timer1Timer();
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* Udalost) override;

private:
    QLabel* VytvorLabel(const QString& Jmeno, const QString& Text, QWidget* Rodic, int X, int Y, int Sirka);
    QFrame* VytvorPanel(const QString& Jmeno, int X, int Y, int Sirka, int Vyska);

    void NastavStatus(const QString& Text);

    QLabel* LabelSkupiny(uint8_t Skupina) const;

    std::array<QLabel*, 9> Labely{};   // Label1 .. Label9
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;

public:
    TPozadavky Pozadavky;  // the polls
    TPozadavky Nastaveni;  // "Nastavit čas"
};
