#include "RTC.h"

#include "Qxxx726.h"

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

namespace {

constexpr int SirkaOkna = 403;
constexpr int VyskaOkna = 233;
constexpr int IntervalCasovace = 200;

constexpr uint8_t SkupinaCas = 1;
constexpr uint8_t SkupinaDatum = 2;
constexpr uint8_t PrvniSkupinaVypadku = 3;
constexpr uint8_t PosledniSkupinaVypadku = 6;

bool JeSkupinaCasu(uint8_t Skupina) { return Skupina % 2 == 1; }

}  // namespace

TForm3::TForm3(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form3");
    setWindowTitle(QStringLiteral("Nastavení hodinového obvodu RTC"));
    setFixedSize(SirkaOkna, VyskaOkna);

    Labely[0] = VytvorLabel("Label1", QStringLiteral("Začátek výpadku napájení"), this, 16, 30, 170);
    Labely[1] = VytvorLabel("Label2", QStringLiteral("Konec výpadku napájení"), this, 16, 58, 170);
    Labely[2] = VytvorLabel("Label3", QStringLiteral("Čas a datum modulu"), this, 16, 122, 170);

    Panel1 = VytvorPanel("Panel1", 192, 18, 195, 64);
    Panel2 = VytvorPanel("Panel2", 192, 110, 195, 36);
    Labely[3] = VytvorLabel("Label4", QStringLiteral("0"), Panel1, 12, 12, 80);
    Labely[6] = VytvorLabel("Label7", QStringLiteral("0"), Panel1, 100, 12, 90);
    Labely[4] = VytvorLabel("Label5", QStringLiteral("0"), Panel1, 12, 40, 80);
    Labely[7] = VytvorLabel("Label8", QStringLiteral("0"), Panel1, 100, 40, 90);
    Labely[5] = VytvorLabel("Label6", QStringLiteral("0"), Panel2, 12, 10, 80);
    Labely[8] = VytvorLabel("Label9", QStringLiteral("0"), Panel2, 100, 10, 90);

    Button1 = new QPushButton(QStringLiteral("Nastavit čas"), this);
    Button1->setObjectName("Button1");
    Button1->setAutoDefault(false);
    Button1->setGeometry(96, 166, 97, 25);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName("Button2");
    Button2->setAutoDefault(false);
    Button2->setGeometry(210, 166, 97, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);

    StatusBar1 = new TStatusBar(this, {0});
    // An error text of the library is longer than the window is wide.
    StatusBar1->ZalamujText(2);
    const int vyskaStavu = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, VyskaOkna - vyskaStavu, SirkaOkna, vyskaStavu);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(IntervalCasovace);
    connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);
    Timer1->start();
}

QLabel* TForm3::VytvorLabel(const QString& Jmeno, const QString& Text, QWidget* Rodic, int X, int Y, int Sirka) {
    auto* label = new QLabel(Text, Rodic);
    label->setObjectName(Jmeno);
    label->setGeometry(X, Y, Sirka, 17);
    return label;
}

QFrame* TForm3::VytvorPanel(const QString& Jmeno, int X, int Y, int Sirka, int Vyska) {
    auto* panel = new QFrame(this);
    panel->setObjectName(Jmeno);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette paleta = panel->palette();
    paleta.setColor(QPalette::Window, Qt::white);
    panel->setPalette(paleta);
    panel->setGeometry(X, Y, Sirka, Vyska);
    return panel;
}

void TForm3::showEvent(QShowEvent* Udalost) {
    QDialog::showEvent(Udalost);
    if (!Udalost->spontaneous()) FormShow();
}

void TForm3::FormShow() {
    AdresaModulu = 0;
    VypadkyNacteny = false;
    if (PData) AdresaModulu = PData->Adresa;
    for (size_t i = 3; i < Labely.size(); ++i) Labely[i]->setText(QStringLiteral("0"));
    Timer1->start();
}

void TForm3::done(int Vysledek) {
    Timer1->stop();
    QDialog::done(Vysledek);
}

void TForm3::NastavStatus(const QString& Text) { StatusBar1->NastavText(0, Text); }

bool TForm3::HlidejPripojeni() {
    if (JePripojeno(PData)) return true;
    NastavStatus(QString::fromUtf8(TextNepripojeno));
    return false;
}

QLabel* TForm3::LabelSkupiny(uint8_t Skupina) const {
    // Groups 1..6 are shown in Label6, Label9, Label4, Label7, Label5, Label8.
    static constexpr size_t Index[7] = {0, 5, 8, 3, 6, 4, 7};
    return Labely[Index[Skupina]];
}

bool TForm3::CtiSkupinu(uint8_t Skupina, int32_t& PosledniKod) {
    TOdpoved odpoved{};
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, chyba = 0;
    PrenosDat(PData->Rozhrani, PData->Handle, AdresaModulu, FunkceCtiHodiny, Skupina, d0, d1, d2, d3, d4, chyba,
              odpoved);
    PosledniKod = chyba;
    if (chyba != 0) {
        NastavStatus(" " + QString::fromStdString(TextKodu(PData->Rozhrani, chyba)));
        return false;
    }
    const std::string text = JeSkupinaCasu(Skupina) ? CasNaText(d1, d2, d3) : DatumNaText(d1, d2, d3);
    LabelSkupiny(Skupina)->setText(QString::fromStdString(text));
    return true;
}

void TForm3::Timer1Timer() {
    if (!PData) return;
    if (!HlidejPripojeni()) return;
    int32_t kod = 0;
    if (!VypadkyNacteny) {
        for (uint8_t skupina = PrvniSkupinaVypadku; skupina <= PosledniSkupinaVypadku; ++skupina)
            if (!CtiSkupinu(skupina, kod)) return;
        VypadkyNacteny = true;
    }
    if (!CtiSkupinu(SkupinaCas, kod)) return;
    if (!CtiSkupinu(SkupinaDatum, kod)) return;
    NastavStatus(" " + QString::fromStdString(TextKodu(PData->Rozhrani, kod)));
}

uint8_t TForm3::NastavSkupinu(uint8_t Skupina, uint8_t D1, uint8_t D2, uint8_t D3) {
    TOdpoved odpoved{};
    uint8_t d0 = 0, d4 = 0, chyba = 0;
    PrenosDat(PData->Rozhrani, PData->Handle, AdresaModulu, FunkceNastavHodiny, Skupina, d0, D1, D2, D3, d4, chyba,
              odpoved);
    return chyba;
}

void TForm3::Button1Click() {
    if (!PData) return;
    if (!HlidejPripojeni()) return;
    Timer1->stop();
    // One reading of the clock for both requests, so time and date agree.
    const QDateTime ted = QDateTime::currentDateTime();
    const QDate datum = ted.date();
    const QTime cas = ted.time();
    uint8_t chyba = NastavSkupinu(SkupinaCas, static_cast<uint8_t>(cas.second()),
                                  static_cast<uint8_t>(cas.minute()), static_cast<uint8_t>(cas.hour()));
    if (chyba == 0)
        chyba = NastavSkupinu(SkupinaDatum, static_cast<uint8_t>(datum.day()), static_cast<uint8_t>(datum.month()),
                              static_cast<uint8_t>(datum.year() % 4));
    if (chyba != 0)
        NastavStatus(" " + QString::fromStdString(TextKodu(PData->Rozhrani, chyba)));
    else
        NastavStatus(QStringLiteral(" Čas nastaven"));
    Timer1->start();
}

void TForm3::Button2Click() {
    Timer1->stop();
    close();
}
