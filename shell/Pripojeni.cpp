#include "Pripojeni.h"

#include "Interfaces.h"
#include "LinkWorker.h"
#include "Module.h"
#include "Numbers.h"
#include "Qxxx726.h"
#include "Ranges.h"

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

// Geometry of the design: labels on the left, fields in one column.
constexpr int XPopisku = 24;
constexpr int XPole = 260;
constexpr int SirkaPole = 308;
constexpr int VyskaRadku = 26;

QString HexAdresa(uint16_t Adresa) {
    return QString::number(Adresa, 16).toUpper().rightJustified(3, QLatin1Char('0')) + "h";
}

bool CtiCeleCislo(const QLineEdit* Pole, int64_t& Hodnota) {
    const auto cislo = files::ParseTyped(Pole->text().toStdString());
    if (cislo) Hodnota = *cislo;
    return cislo.has_value();
}

}  // namespace

std::string ZnakyIdentifikace(uint8_t D1, uint8_t D2, uint8_t D3, uint8_t D4) {
    return kv618::CharactersText({D1, D2, D3, D4});
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
    for (const auto& rozhrani : kv618::Interfaces) ComboBox2->addItem(rozhrani.dialogLabel);
    Label5->setBuddy(ComboBox2);

    Label3 = Popisek("Label3", "", 60);
    Edit2 = Pole("Edit2", 60);
    Label3->setBuddy(Edit2);
    // The LAN converter's port and time-out, the only interface with three parameters.
    const auto lan = kv618::Interfaces[RozhraniKV1726].parameters;
    Label6 = Popisek("Label6", lan[1].label, 100);
    Edit3 = Pole("Edit3", 100);
    Label6->setBuddy(Edit3);
    Label7 = Popisek("Label7", lan[2].label, 140);
    Edit4 = Pole("Edit4", 140);
    Label7->setBuddy(Edit4);

    Label1 = Popisek("Label1", "Adresa připojeného modulu", 180);
    Edit1 = Pole("Edit1", 180);
    Label1->setBuddy(Edit1);

    Label2 = Popisek("Label2", "Komunikační rychlost", 220);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(XPole, 220, SirkaPole, VyskaRadku);
    for (const int32_t rychlost : wire::BaudRates) ComboBox1->addItem(QString::number(rychlost) + " Bd");
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
    for (size_t i = 0; i < PoleParametru().size(); ++i) {
        PoleParametru()[i].first->hide();
        PoleParametru()[i].second->hide();
    }
    if (!kv618::IsInterface(static_cast<unsigned>(Rozhrani))) return;
    const auto parametry = kv618::Interfaces[static_cast<size_t>(Rozhrani)].parameters;
    for (size_t i = 0; i < parametry.size() && i < PoleParametru().size(); ++i) {
        const auto [popisek, pole] = PoleParametru()[i];
        popisek->setText(parametry[i].label);
        pole->setText(QString::fromStdString(kv618::DialogText(*PData, parametry[i])));
        popisek->show();
        pole->show();
    }
}

std::array<std::pair<QLabel*, QLineEdit*>, 3> TForm2::PoleParametru() const {
    return {{{Label3, Edit2}, {Label6, Edit3}, {Label7, Edit4}}};
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

// Reads one parameter's field into TData and shows what was taken; gives
// the value for the parameter's cell of the _Init block, or nothing (with
// the refusal shown) when the field's text is refused.
std::optional<intptr_t> TForm2::PripravParametr(const kv618::Parameter& Parametr, QLineEdit* Pole) {
    const auto hodnota = kv618::ParseParameter(Parametr, Pole->text().toStdString(), kv618::Notation::Dialog);
    if (!hodnota) {
        Neuspech(QString::fromStdString(kv618::RefusalText(Parametr)));
        return std::nullopt;
    }
    kv618::SetParameter(*PData, Parametr, *hodnota);
    if (Parametr.kind == kv618::ParameterKind::Address) {
        // TData keeps the text alive while _Init reads it.
        return reinterpret_cast<intptr_t>((PData->*std::get<std::string TData::*>(Parametr.field)).c_str());
    }
    // The port's and the base's fields show what was taken: a port cut to
    // 16 bits, the base as 300h.
    const auto cislo = std::stoll(*hodnota);
    if (Parametr.kind == kv618::ParameterKind::IoBase) Pole->setText(HexAdresa(static_cast<uint16_t>(cislo)));
    if (Parametr.kind == kv618::ParameterKind::PortNumber) Pole->setText(QString::fromStdString(*hodnota));
    return static_cast<intptr_t>(cislo);
}

// The interface's parameters into TData and, once all are valid, into the
// cells of the block for _Init, in the order of the table.
bool TForm2::PripravParametry() {
    PData->InitParametry.fill(0);
    if (!kv618::IsInterface(PData->Rozhrani)) {
        Neuspech(TextNeznameRozhrani);
        return false;
    }
    const auto parametry = kv618::Interfaces[PData->Rozhrani].parameters;
    TInitParametry bunky{};
    for (size_t i = 0; i < parametry.size(); ++i) {
        const auto bunka = PripravParametr(parametry[i], PoleParametru()[i].second);
        if (!bunka) return false;
        bunky[i] = *bunka;
    }
    PData->InitParametry = bunky;
    return true;
}

// What one attempt to connect came to.  It runs on the connection worker,
// so the texts of its codes are fetched there, from the library just bound.
struct TVysledekPokusu {
    enum class TKrok { Inicializace, Identifikace, Hotovo, Zastaven };
    TKrok Krok = TKrok::Hotovo;  // the step that failed, or Hotovo
    std::string Text;            // of the failed step's code
    int32_t Handle = 0;          // of the link opened
    std::string Identifikace;
};

using TKrok = TVysledekPokusu::TKrok;

namespace {

// Opens the program's link (binds, initialises, sets the speed) and
// identifies the module, as one sequence on the worker; a link that cannot
// be completed is closed again and its library unloaded.  Once the dialog
// has closed, what remains after the exchange in flight is not carried out.
TVysledekPokusu Pripoj(kv618::Connection& Spojeni, const StopFlag& Zastavit, uint8_t Typ, TInitParametry Blok,
                       const std::string& Ip, uint8_t Adresa, int32_t Rychlost) {
    TVysledekPokusu v;
    // The LAN converter's address text travels with the attempt: the record
    // may change while the attempt waits its turn.
    for (size_t i = 0; i < kv618::Interfaces[Typ].parameters.size(); ++i)
        if (kv618::Interfaces[Typ].parameters[i].kind == kv618::ParameterKind::Address)
            Blok[i] = reinterpret_cast<intptr_t>(Ip.c_str());
    const auto selhani = [&](TKrok Krok, int32_t Kod) {
        v.Krok = Krok;
        v.Text = Spojeni.Text(Kod);
        v.Handle = Spojeni.Unload();
        return v;
    };

    if (const int32_t kod = Spojeni.Open(Typ, Blok, Rychlost, SlozkaKnihoven()))
        return selhani(TKrok::Inicializace, kod);
    if (*Zastavit) {
        Spojeni.Unload();
        v.Krok = TKrok::Zastaven;
        return v;
    }
    const auto identifikace = Spojeni.At(Adresa).Identify();
    if (!identifikace.ok()) return selhani(TKrok::Identifikace, identifikace.error);
    v.Identifikace = identifikace.value.Text();
    v.Handle = Spojeni.Handle();
    return v;
}

}  // namespace

void TForm2::UzavriStareSpojeni() {
    if (PData->Pripojeno == 0 || PData->Handle == 0) return;
    PData->Pripojeno = 0;
    OnWorker(
        this, [](kv618::Connection& Spojeni) { return Spojeni.Unload(); },
        [](TForm2* okno, int32_t Handle) { okno->PData->Handle = Handle; });
}

void TForm2::Button1Click() {
    if (!PData || Pokus_) return;
    UzavriStareSpojeni();
    NastavPanel(TextProbiha);

    int64_t cislo = 0;
    const uint8_t adresa = CtiCeleCislo(Edit1, cislo) ? kv618::AddressByte(cislo) : uint8_t{0};
    Edit1->setText(QString::number(adresa));
    const auto indexRychlosti = static_cast<uint8_t>(ComboBox1->currentIndex());
    PData->Rozhrani = static_cast<uint8_t>(ComboBox2->currentIndex());

    if (!PripravParametry()) return;
    const int32_t rychlost = RychlostZIndexu(indexRychlosti);
    Pokus_ = NewStopFlag();
    OnWorker(
        this,
        [zastavit = Pokus_, typ = PData->Rozhrani, blok = PData->InitParametry, ip = PData->IPAdresa, adresa,
         rychlost](kv618::Connection& Spojeni) { return Pripoj(Spojeni, zastavit, typ, blok, ip, adresa, rychlost); },
        [zastavit = Pokus_, adresa, rychlost](TForm2* okno, const TVysledekPokusu& v) {
            okno->PoPokusu(zastavit, v, adresa, rychlost);
        });
}

void TForm2::PoPokusu(const StopFlag& Pokus, const TVysledekPokusu& V, uint8_t Adresa, int32_t Rychlost) {
    // A dialog closed meanwhile has had the link closed again.
    if (*Pokus) return;
    if (Pokus_ == Pokus) Pokus_.reset();
    switch (V.Krok) {
        case TKrok::Zastaven:
            return;
        case TKrok::Inicializace:
            // Opening failed, in binding, initialising or setting the speed.
            PData->Pripojeno = 0;
            Neuspech(TextChybaInicializace + QString::fromStdString(V.Text));
            return;
        case TKrok::Identifikace:
            PData->Handle = V.Handle;
            PData->Pripojeno = 0;
            Neuspech(QString::fromStdString(V.Text));
            return;
        case TKrok::Hotovo:
            break;
    }
    PData->Pripojeno = 1;
    PData->IdentModulu = V.Identifikace;
    NastavPanel(TextUspech + QString::fromStdString(PData->IdentModulu));
    PData->Adresa = Adresa;
    PData->Rychlost = Rychlost;
    PData->Status = TextVPoradku;
    PData->Handle = V.Handle;
}

// Closing stops an attempt that is under way after the exchange in flight;
// a link it has already opened is closed again.
void TForm2::done(int Vysledek) {
    if (Pokus_) {
        *Pokus_ = true;
        // Behind the attempt: whatever link it came to is not the program's.
        LinkWorker::Program().Post([](kv618::Connection& Spojeni) { Spojeni.Unload(); });
    }
    Pokus_.reset();
    QDialog::done(Vysledek);
}
