#include "Hlavni.h"

#include "LinkWorker.h"
#include "Report.h"
#include "Citac619.h"
#include "NastavAdr.h"
#include "NastavDIO.h"
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "Pripojeni.h"
#include "RTC.h"
#include "StatReg.h"
#include "BackupWindow.h"
#include "LogWindow.h"
#include "ScanWindow.h"
#include "TrendWindow.h"
#include "kv_version.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <new>

namespace {

const char* const TitulekOkna = "KV-618 (v." KV_VERSION ") -  nastavení modulu";
const char* const TextChybaDat = " Nelze vytvořit datové struktury programu";

enum : int { PanelModul = 0, PanelAdresa = 1, PanelRychlost = 2, PanelZprava = 3 };

// How long the end of the program waits for the connection worker to carry
// out what it holds (a write begun in a window, then closing the link).  A
// library that has not returned by then is not waited for.
constexpr std::chrono::seconds CekaniNaKonecSpojeni{10};

}  // namespace

TForm1::TForm1(QWidget* Owner) : QMainWindow(Owner) {
    setObjectName("Form1");
    setWindowTitle(TitulekOkna);
    resize(600, 400);
    VycentrujNaObrazovce();
    VytvorMenu();

    StatusBar1 = new TStatusBar(this, {140, 80, 120, 50});
    setStatusBar(StatusBar1);
    StatusBar1->NastavText(PanelModul, " Modul");
    StatusBar1->NastavText(PanelAdresa, " Adresa");
    StatusBar1->NastavText(PanelRychlost, " Rychlost");
    StatusBar1->NastavText(PanelZprava, "");
    // What a closed window began and finished (Report.h) shows here until
    // the next connection dialog.
    connect(&Report::Program(), &Report::Told, this, [this](const QString& Text) { NastavPanel(PanelZprava, Text); });

    FormCreate();
}

// A window destroyed without having been closed still saves the settings
// and closes the link.
TForm1::~TForm1() { FormClose(); }

QAction* TForm1::PolozkaMenu(QWidget* Menu, const char* Jmeno, const QString& Titulek,
                             void (TForm1::*Obsluha)()) {
    auto* polozka = new QAction(Titulek, this);
    polozka->setObjectName(Jmeno);
    Menu->addAction(polozka);
    connect(polozka, &QAction::triggered, this, Obsluha);
    return polozka;
}

QMenu* TForm1::Podmenu(const char* Jmeno, const QString& Titulek) {
    auto* menu = new QMenu(Titulek, MainMenu1);
    menu->setObjectName(Jmeno);
    MainMenu1->addMenu(menu);
    return menu;
}

void TForm1::VytvorMenu() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    setMenuBar(MainMenu1);

    Pipojen1 = PolozkaMenu(MainMenu1, "Pipojen1", "&Připojení", &TForm1::Pipojen1Click);

    Nastaven1 = Podmenu("Nastaven1", "&Nastavení");
    AdresaRychlost1 = PolozkaMenu(Nastaven1, "AdresaRychlost1", "Adresa, rychlost", &TForm1::AdresaRychlost1Click);
    NastavAIN1 = PolozkaMenu(Nastaven1, "NastavAIN1", "Čítače KV-619", &TForm1::NastavAIN1Click);
    HodinovobvodRTC1 =
        PolozkaMenu(Nastaven1, "HodinovobvodRTC1", "Hodinový obvod RTC", &TForm1::HodinovobvodRTC1Click);
    NastavDIO1 = PolozkaMenu(Nastaven1, "NastavDIO1", "Digitální vstupy/výstupy", &TForm1::NastavDIO1Click);

    Okamithodnoty1 = Podmenu("Okamithodnoty1", "&Okamžité hodnoty");
    OkamAIN2 = PolozkaMenu(Okamithodnoty1, "OkamAIN2", "Čítače", &TForm1::OkamAIN2Click);
    OkamDIN2 = PolozkaMenu(Okamithodnoty1, "OkamDIN2", "Digitální vstupy", &TForm1::OkamDIN2Click);
    OkamDOUT1 = PolozkaMenu(Okamithodnoty1, "OkamDOUT1", "Digitální výstupy", &TForm1::OkamDOUT1Click);
    Statusregistr1 = PolozkaMenu(Okamithodnoty1, "Statusregistr1", "Status registr", &TForm1::Statusregistr1Click);

    Nastroje1 = Podmenu("Nastroje1", tr("Ná&stroje"));
    HledaniModulu1 = PolozkaMenu(Nastroje1, "HledaniModulu1", tr("Vyhledání modulů"), &TForm1::HledaniModulu1Click);
    ZalohaNastaveni1 =
        PolozkaMenu(Nastroje1, "ZalohaNastaveni1", tr("Záloha a obnova nastavení"), &TForm1::ZalohaNastaveni1Click);
    PrubehHodnot1 = PolozkaMenu(Nastroje1, "PrubehHodnot1", tr("Průběh hodnot"), &TForm1::PrubehHodnot1Click);
    ZaznamDoSouboru1 =
        PolozkaMenu(Nastroje1, "ZaznamDoSouboru1", tr("Záznam do souboru"), &TForm1::ZaznamDoSouboru1Click);

    Konec2 = PolozkaMenu(MainMenu1, "Konec2", "&Konec", &TForm1::Konec2Click);
}

void TForm1::VycentrujNaObrazovce() {
    const QScreen* obrazovka = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!obrazovka) return;
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), obrazovka->availableGeometry()));
}

void TForm1::FormCreate() {
    PData.reset(new (std::nothrow) TData);
    if (!PData) {
        NastavPanel(PanelZprava, TextChybaDat);
        return;
    }
    InicializujData(PData.get());
    // A missing or incomplete settings file leaves the defaults, silently.
    NactiNastaveni(PData.get());
}

void TForm1::FormClose() {
    if (!PData) return;
    std::string chyba;
    const bool ulozeno = UlozNastaveni(PData.get(), &chyba);
    // Closes an open link (_Done) and unloads its library.
    LinkWorker::Program().Post([](kv618::Connection& Spojeni) { Spojeni.Unload(); });
    // The link closes on the worker, after what is in flight there; the
    // program ends once it has, or when the library has kept the worker
    // longer than it may.
    if (!LinkWorker::Program().Stop(CekaniNaKonecSpojeni)) UkonciBezKnihovny(ulozeno ? std::string() : chyba);
    // The program still ends: keeping it open would not make the file
    // writable.  The link is closed first, so it is not held while the
    // operator reads the message.
    if (!ulozeno) OhlasNeulozeneNastaveni(chyba);
    PData.reset();
}

// The worker is still inside the library: nothing can close the link, and
// no destructor may wait for the worker, so the process ends here.  The
// settings are saved already.
void TForm1::UkonciBezKnihovny(const std::string& ChybaNastaveni) {
    if (!ChybaNastaveni.empty()) std::cerr << ChybaNastaveni << std::endl;
    std::cerr << "R_IV618: knihovna rozhraní neodpověděla do " << CekaniNaKonecSpojeni.count()
              << " s, program končí bez ukončení spojení" << std::endl;
    std::_Exit(1);
}

void TForm1::OhlasNeulozeneNastaveni(const std::string& Chyba) {
    std::cerr << Chyba << std::endl;
    NastavPanel(PanelZprava, " " + QString::fromStdString(Chyba));
    // Only a window the operator sees asks them; one destroyed unseen does not.
    if (isVisible()) QMessageBox::warning(this, windowTitle(), QString::fromStdString(Chyba));
}

void TForm1::closeEvent(QCloseEvent* Udalost) {
    FormClose();
    Udalost->accept();
}

template <typename TOkno>
void TForm1::OtevriOkno() {
    if (!PData) return;
    // Owned here so that the window is destroyed also when exec() throws.
    const auto okno = std::make_unique<TOkno>(this);
    okno->PData = PData.get();
    okno->exec();
}

// The whole text shows: an identification or a speed must not be cut short.
void TForm1::NastavPanel(int Panel, const QString& Text) {
    StatusBar1->NastavText(Panel, Text);
    StatusBar1->RozsirPodleTextu(Panel);
}

void TForm1::ObnovStavovyRadek() {
    if (!PData) return;
    NastavPanel(PanelModul, " Modul  " + QString::fromStdString(PData->IdentModulu));
    NastavPanel(PanelAdresa, " Adresa  " + QString::number(PData->Adresa));
    NastavPanel(PanelRychlost, " Rychlost  " + QString::number(PData->Rychlost) + "Bd");
}

void TForm1::Pipojen1Click() {
    if (!PData) return;
    NastavPanel(PanelZprava, "");
    OtevriOkno<TForm2>();
    ObnovStavovyRadek();
}

void TForm1::AdresaRychlost1Click() { OtevriOkno<TForm12>(); }
void TForm1::NastavAIN1Click() { OtevriOkno<TForm5>(); }
void TForm1::HodinovobvodRTC1Click() { OtevriOkno<TForm3>(); }
void TForm1::NastavDIO1Click() { OtevriOkno<TForm14>(); }
void TForm1::OkamAIN2Click() { OtevriOkno<TForm6>(); }
void TForm1::OkamDIN2Click() { OtevriOkno<TForm11>(); }
void TForm1::OkamDOUT1Click() { OtevriOkno<TForm9>(); }
void TForm1::Statusregistr1Click() { OtevriOkno<TForm15>(); }
// "Připojit" there connects as the connection dialog does: the status bar
// shows the result as after the dialog.
void TForm1::HledaniModulu1Click() {
    if (!PData) return;
    OtevriOkno<ScanWindow>();
    ObnovStavovyRadek();
}
void TForm1::ZalohaNastaveni1Click() { OtevriOkno<BackupWindow>(); }
void TForm1::PrubehHodnot1Click() { OtevriOkno<TrendWindow>(); }
void TForm1::ZaznamDoSouboru1Click() { OtevriOkno<LogWindow>(); }

void TForm1::Konec2Click() { close(); }
