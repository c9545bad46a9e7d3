#include "Pripojeni.h"

#include "Kodovani.h"
#include "Qxxx726.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

namespace {

const char* const TextProbiha = "Probíhá inicializace připojení";
const char* const TextChybaInicializace = "Chyba inicializace připojení - ";
const char* const TextUspech = "Připojení úspěšně inicializováno. Připojen modul   ";
const char* const TextNeznameRozhrani = "Neznámý typ rozhraní";
const char* const TextNeplatnaIP = "Neplatná IP adresa";
const char* const TextNeplatnyPort = "Neplatný UDP port";
const char* const TextNeplatnyTimeout = "Neplatný UDP timeout";

constexpr uint8_t FunkceIdentifikace = 0xC8;
constexpr int32_t RezimRozhrani = 2;

// Geometry of the design: labels on the left, fields in one column.
constexpr int XPopisku = 24;
constexpr int XPole = 260;
constexpr int SirkaPole = 308;
constexpr int VyskaRadku = 26;

QString HexAdresa(uint16_t Adresa) {
    return QString::number(Adresa, 16).toUpper().rightJustified(3, QLatin1Char('0')) + "h";
}

bool JeHexCislice(QChar Znak) {
    const char16_t c = Znak.unicode();
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The three hex digits before the trailing "h" of a four-character text;
// any other length stands for the card's usual base, as does a bad digit.
uint16_t CtiBazovouAdresu(const QString& Text) {
    const QString hex = Text.length() == 4 ? Text.left(3) : QStringLiteral("300");
    for (const QChar znak : hex) {
        if (!JeHexCislice(znak)) return 768;
    }
    return static_cast<uint16_t>(hex.toUInt(nullptr, 16));
}

bool CtiCeleCislo(const QLineEdit* Pole, int64_t& Hodnota) { return TextNaCislo(Pole->text().toStdString(), Hodnota); }

}  // namespace

// Identification bytes are Windows-1250 character codes.  A 0 byte would end
// the text wherever it is shown, so it stands as a blank.
std::string ZnakyIdentifikace(uint8_t D1, uint8_t D2, uint8_t D3, uint8_t D4) {
    std::string znaky;
    for (const uint8_t b : {D1, D2, D3, D4}) znaky += b == 0 ? ' ' : static_cast<char>(b);
    return Kodovani::Cp1250NaUtf8(znaky);
}

TForm2::TForm2(QWidget* Owner) : QDialog(Owner) {
    setObjectName("Form2");
    setWindowTitle("Připojení modulu");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(592, 373);
    VytvorOvladace();
    if (const QScreen* obrazovka = QGuiApplication::primaryScreen()) {
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), obrazovka->availableGeometry()));
    }
}

QLabel* TForm2::Popisek(const char* Jmeno, const QString& Text, int Y) {
    auto* popisek = new QLabel(Text, this);
    popisek->setObjectName(Jmeno);
    popisek->setGeometry(XPopisku, Y, XPole - XPopisku - 8, VyskaRadku);
    return popisek;
}

QLineEdit* TForm2::Pole(const char* Jmeno, int Y) {
    auto* pole = new QLineEdit(this);
    pole->setObjectName(Jmeno);
    pole->setGeometry(XPole, Y, SirkaPole, VyskaRadku);
    return pole;
}

void TForm2::VytvorOvladace() {
    Label5 = Popisek("Label5", "Komunikační rozhraní", 20);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->setGeometry(XPole, 20, SirkaPole, VyskaRadku);
    ComboBox2->addItems({"Standardní COMx", "ISA karta PCI-726", "PCI karta PCI-1726", "USB konvertor USB-1726",
                         "LAN konvertor KV-1726"});
    Label5->setBuddy(ComboBox2);

    Label3 = Popisek("Label3", "", 60);
    Edit2 = Pole("Edit2", 60);
    Label3->setBuddy(Edit2);
    Label6 = Popisek("Label6", "UDP port", 100);
    Edit3 = Pole("Edit3", 100);
    Label6->setBuddy(Edit3);
    Label7 = Popisek("Label7", "UDP timeout", 140);
    Edit4 = Pole("Edit4", 140);
    Label7->setBuddy(Edit4);

    Label1 = Popisek("Label1", "Adresa připojeného modulu", 180);
    Edit1 = Pole("Edit1", 180);
    Label1->setBuddy(Edit1);

    Label2 = Popisek("Label2", "Komunikační rychlost", 220);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(XPole, 220, SirkaPole, VyskaRadku);
    ComboBox1->addItems(
        {"600 Bd", "1200 Bd", "2400 Bd", "4800 Bd", "9600 Bd", "19200 Bd", "38400 Bd", "57600 Bd", "115200 Bd"});
    Label2->setBuddy(ComboBox1);

    Label4 = Popisek("Label4", "Status připojení", 256);
    Panel1 = new QLabel(this);
    Panel1->setObjectName("Panel1");
    // Two lines: a library's message after "Chyba inicializace připojení - "
    // is longer than one.
    Panel1->setGeometry(XPopisku, 282, XPole + SirkaPole - XPopisku, 40);
    // The identification and the libraries' texts are shown as they come.
    Panel1->setTextFormat(Qt::PlainText);
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setWordWrap(true);
    Panel1->setIndent(4);
    Panel1->setAutoFillBackground(true);
    QPalette bila = Panel1->palette();
    bila.setColor(QPalette::Window, Qt::white);
    bila.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(bila);
    Label4->setBuddy(Panel1);

    Button1 = new QPushButton("Inicializace připojení", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(XPopisku, 328, 200, 30);
    Button1->setAutoDefault(false);
    Button2 = new QPushButton("Cancel", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(XPole + SirkaPole - 120, 328, 120, 30);
    Button2->setAutoDefault(false);

    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &TForm2::ComboBox2Change);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::showEvent(QShowEvent* Udalost) {
    QDialog::showEvent(Udalost);
    // A restore from the task bar is no new showing of the dialog.
    if (!Udalost->spontaneous()) FormShow();
}

void TForm2::NastavPanel(const QString& Text) {
    Panel1->setText(Text);
    Panel1->repaint();
}

void TForm2::ZobrazParametry(int Rozhrani) {
    for (QWidget* w : std::initializer_list<QWidget*>{Label3, Label6, Label7, Edit2, Edit3, Edit4}) w->hide();
    switch (Rozhrani) {
        case RozhraniCOM:
            Label3->setText("Číslo portu COMx");
            Edit2->setText(QString::number(PData->CisloPortu));
            break;
        case RozhraniPCI726:
            Label3->setText("Bázová adresa PCI-726");
            Edit2->setText(HexAdresa(PData->BazovaAdresa));
            break;
        case RozhraniKV1726:
            Label3->setText("IP adresa");
            Edit2->setText(QString::fromStdString(PData->IPAdresa));
            Edit3->setText(QString::number(PData->UDPPort));
            Edit4->setText(QString::number(PData->UDPTimeout));
            for (QWidget* w : std::initializer_list<QWidget*>{Label6, Label7, Edit3, Edit4}) w->show();
            break;
        default:
            return;
    }
    if (Rozhrani != RozhraniPCI1726 && Rozhrani != RozhraniUSB1726) {
        Label3->show();
        Edit2->show();
    }
}

void TForm2::FormShow() {
    if (!PData) return;
    Edit1->setText(QString::number(PData->Adresa));
    ComboBox1->setCurrentIndex(IndexRychlosti(PData->Rychlost));
    PData->Rozhrani &= 0x07;
    {
        // Choosing the stored interface is no change made by the operator.
        const QSignalBlocker ticho(ComboBox2);
        ComboBox2->setCurrentIndex(PData->Rozhrani <= RozhraniKV1726 ? PData->Rozhrani : -1);
    }
    ZobrazParametry(PData->Rozhrani);
    Panel1->setText(QString::fromStdString(PData->Status));
}

void TForm2::ComboBox2Change() {
    if (!PData) return;
    const int rozhrani = ComboBox2->currentIndex();
    if (rozhrani < RozhraniCOM || rozhrani > RozhraniKV1726) {
        ZobrazParametry(-1);
        Panel1->setText(TextNeznameRozhrani);
        Label3->show();
        Edit2->show();
        return;
    }
    ZobrazParametry(rozhrani);
}

void TForm2::Button2Click() { reject(); }

// The dialog shows why there is no link, and opens with that text next time.
void TForm2::Neuspech(const QString& Text) {
    NastavPanel(Text);
    PData->Status = Text.toStdString();
}

bool TForm2::PripravCOM() {
    int64_t port = 0;
    if (!CtiCeleCislo(Edit2, port)) port = 1;
    const auto port16 = static_cast<uint16_t>(port);
    Edit2->setText(QString::number(port16));
    PData->CisloPortu = static_cast<uint8_t>(port);
    PData->InitParametry[0] = port16;
    return true;
}

void TForm2::PripravISA() {
    const uint16_t baze = CtiBazovouAdresu(Edit2->text());
    Edit2->setText(HexAdresa(baze));
    PData->BazovaAdresa = baze;
    PData->InitParametry[0] = baze;
}

bool TForm2::PripravLAN() {
    if (Edit2->text().isEmpty()) {
        Neuspech(TextNeplatnaIP);
        return false;
    }
    PData->IPAdresa = Edit2->text().toStdString();
    int64_t port = 0;
    if (!CtiCeleCislo(Edit3, port) || port < 0 || port > 65535) {
        Neuspech(TextNeplatnyPort);
        return false;
    }
    PData->UDPPort = static_cast<int32_t>(port);
    int64_t timeout = 0;
    if (!CtiCeleCislo(Edit4, timeout) || timeout < 0 || timeout > 65535) {
        Neuspech(TextNeplatnyTimeout);
        return false;
    }
    PData->UDPTimeout = static_cast<int32_t>(timeout);
    // The library reads the text only during its _Init; TData keeps it alive.
    PData->InitParametry[0] = reinterpret_cast<intptr_t>(PData->IPAdresa.c_str());
    PData->InitParametry[1] = PData->UDPPort;
    PData->InitParametry[2] = PData->UDPTimeout;
    return true;
}

bool TForm2::PripravParametry() {
    PData->InitParametry.fill(0);
    switch (PData->Rozhrani) {
        case RozhraniCOM:
            return PripravCOM();
        case RozhraniPCI726:
            PripravISA();
            return true;
        case RozhraniPCI1726:
        case RozhraniUSB1726:
            PData->InitParametry[0] = 0;
            return true;
        case RozhraniKV1726:
            return PripravLAN();
        default:
            Neuspech(TextNeznameRozhrani);
            return false;
    }
}

bool TForm2::Inicializuj(int32_t& Handle) {
    const int32_t kod = InitRozhrani(PData->Rozhrani, &Handle, PData->InitParametry);
    const std::string text = TextKodu(PData->Rozhrani, kod);
    if (kod == 0) return true;
    // No link was opened, so there is nothing to close.
    PData->Pripojeno = 0;
    Neuspech(TextChybaInicializace + QString::fromStdString(text));
    return false;
}

bool TForm2::NastavRychlost(int32_t Handle, int32_t Rychlost) {
    const int32_t kod = KonfigRozhrani(PData->Rozhrani, Handle, Rychlost, TimeoutRychlosti(Rychlost), RezimRozhrani);
    const std::string text = TextKodu(PData->Rozhrani, kod);
    if (kod == 0) return true;
    Neuspech(TextChybaInicializace + QString::fromStdString(text));
    UzavriSpojeni(Handle);
    return false;
}

bool TForm2::Identifikuj(int32_t Handle, uint8_t Adresa, std::array<std::string, 3>& Casti) {
    // D0 is not cleared between the requests: each carries the previous status.
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, chyba = 0;
    TOdpoved odpoved{};
    for (uint8_t podfunkce = 0; podfunkce < Casti.size(); ++podfunkce) {
        d1 = d2 = d3 = d4 = 0;
        PrenosDat(PData->Rozhrani, Handle, Adresa, FunkceIdentifikace, podfunkce, d0, d1, d2, d3, d4, chyba, odpoved);
        const std::string text = TextKodu(PData->Rozhrani, chyba);
        if (chyba != 0) {
            Neuspech(QString::fromStdString(text));
            UzavriSpojeni(Handle);
            return false;
        }
        Casti[podfunkce] = ZnakyIdentifikace(d1, d2, d3, d4);
    }
    return true;
}

void TForm2::UzavriSpojeni(int32_t& Handle) {
    UkonciRozhrani(PData->Rozhrani, &Handle);
    PData->Handle = Handle;
    PData->Pripojeno = 0;
}

void TForm2::Button1Click() {
    if (!PData) return;
    int32_t handle = PData->Handle;
    if (PData->Pripojeno != 0 && PData->Handle != 0) {
        UkonciRozhrani(PData->Rozhrani, &handle);
        PData->Handle = handle;
        PData->Pripojeno = 0;
    }
    NastavPanel(TextProbiha);

    int64_t cislo = 0;
    const uint8_t adresa = CtiCeleCislo(Edit1, cislo) ? static_cast<uint8_t>(cislo) : uint8_t{0};
    Edit1->setText(QString::number(adresa));
    const auto indexRychlosti = static_cast<uint8_t>(ComboBox1->currentIndex());
    PData->Rozhrani = static_cast<uint8_t>(ComboBox2->currentIndex());

    if (!PripravParametry()) return;
    if (!Inicializuj(handle)) return;
    PData->Pripojeno = 1;
    const int32_t rychlost = RychlostZIndexu(indexRychlosti);
    if (!NastavRychlost(handle, rychlost)) return;
    std::array<std::string, 3> casti;
    if (!Identifikuj(handle, adresa, casti)) return;

    PData->IdentModulu = casti[0] + casti[1] + " v." + casti[2];
    NastavPanel(TextUspech + QString::fromStdString(PData->IdentModulu));
    PData->Adresa = adresa;
    PData->Rychlost = rychlost;
    PData->Status = TextVPoradku;
    PData->Handle = handle;
}
