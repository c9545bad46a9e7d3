// Main window: owns the program record for the whole run, opens every other
// window from its menu and shows the connected module in its status bar.
#pragma once

#include "Dekl.h"
#include "StatusBar.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QCloseEvent;
class QMenu;
class QMenuBar;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* Owner = nullptr);
    ~TForm1() override;

    // The program record; null before creation succeeded and after closing.
    TData* Data() const { return PData.get(); }

    QMenuBar* MainMenu1 = nullptr;
    QAction* Pipojen1 = nullptr;
    QMenu* Nastaven1 = nullptr;
    QAction* AdresaRychlost1 = nullptr;
    QAction* NastavAIN1 = nullptr;
    QAction* HodinovobvodRTC1 = nullptr;
    QAction* NastavDIO1 = nullptr;
    QMenu* Okamithodnoty1 = nullptr;
    QAction* OkamAIN2 = nullptr;
    QAction* OkamDIN2 = nullptr;
    QAction* OkamDOUT1 = nullptr;
    QAction* Statusregistr1 = nullptr;
    // The tools' menu, which the design does not have: what kv618 does, in
    // the program (toolsmenu/).
    QMenu* Nastroje1 = nullptr;
    QAction* HledaniModulu1 = nullptr;
    QAction* ZalohaNastaveni1 = nullptr;
    QAction* PrubehHodnot1 = nullptr;
    QAction* ZaznamDoSouboru1 = nullptr;
    QAction* Konec2 = nullptr;
    TStatusBar* StatusBar1 = nullptr;

public slots:
    void Pipojen1Click();
    void AdresaRychlost1Click();
    void NastavAIN1Click();
    void HodinovobvodRTC1Click();
    void NastavDIO1Click();
    void OkamAIN2Click();
    void OkamDIN2Click();
    void OkamDOUT1Click();
    void Statusregistr1Click();
    void HledaniModulu1Click();
    void ZalohaNastaveni1Click();
    void PrubehHodnot1Click();
    void ZaznamDoSouboru1Click();
    void Konec2Click();

protected:
    void closeEvent(QCloseEvent* Udalost) override;

private:
    void VytvorMenu();
    QMenu* Podmenu(const char* Jmeno, const QString& Titulek);
    QAction* PolozkaMenu(QWidget* Menu, const char* Jmeno, const QString& Titulek, void (TForm1::*Obsluha)());
    void VycentrujNaObrazovce();
    void FormCreate();
    void FormClose();
    void OhlasNeulozeneNastaveni(const std::string& Chyba);
    [[noreturn]] static void UkonciBezKnihovny(const std::string& ChybaNastaveni);
    void NastavPanel(int Panel, const QString& Text);
    void ObnovStavovyRadek();
    template <typename TOkno>
    void OtevriOkno();

    std::unique_ptr<TData> PData;
};
