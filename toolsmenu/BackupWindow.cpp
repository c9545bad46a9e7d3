#include "BackupWindow.h"

#include "LinkWorker.h"
#include "Report.h"
#include "StatusBar.h"
#include "ToolWindow.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <string_view>

namespace settings = kv618::settings;
using settings::ByteState;
using settings::Setting;

namespace {

enum Column { ColumnSetting, ColumnRegisters, ColumnHeld, ColumnWanted, ColumnState, Columns };

// A setting's row holds its place in settings::All().
constexpr int SettingRole = Qt::UserRole;

int IndexOf(const Setting& s) { return static_cast<int>(&s - settings::All().data()); }

QString ValueShown(const Setting& s, uint32_t value) {
    QString text = QString::fromStdString(settings::ValueText(s, value));
    if (s.kind == settings::Kind::Rate) text += " Bd";
    return text;
}

BackupWindow::Read ReadModule(const kv618::Module& m) {
    BackupWindow::Read r;
    const auto identity = m.Identify();
    r.error = identity.error;
    if (identity.ok()) {
        r.identity = identity.value;
        r.error = settings::ReadAll(m, r.settings);
    }
    if (r.error) r.errorText = m.Text(r.error);
    return r;
}

// Reads what the module holds now and writes what differs from `wanted`:
// the module may have changed since the comparison.
BackupWindow::Restored RestoreInto(const kv618::Module& m, const TKonfigurace& wanted, bool withLink) {
    BackupWindow::Restored r;
    TKonfigurace held = VychoziKonfigurace();
    if ((r.readError = settings::ReadAll(m, held))) {
        r.errorText = m.Text(r.readError);
        return r;
    }
    r.registers = settings::RegistersToWrite(wanted, held, withLink);
    settings::Stop stop = settings::Stop::None;
    r.write = settings::WriteVerified(m, r.registers, wanted, stop);
    r.writes = settings::WhatWasWritten(r.registers, r.write);
    if (r.write.error) r.errorText = m.Text(r.write.error);
    return r;
}

}  // namespace

BackupWindow::BackupWindow(QWidget* owner) : ToolWindow(owner, "BackupWindow", tr("Záloha a obnova nastavení modulu")) {

    auto* content = new QVBoxLayout;
    content->addLayout(toolsmenu::FileRow(this, "FileField", FileField, false,
                                          tr("Nastavení modulu (*.txt);;Všechny soubory (*)")));
    WithLink = new QCheckBox(tr("Obnovit i adresu a komunikační rychlost modulu"), this);
    WithLink->setObjectName("WithLink");
    content->addWidget(WithLink);
    Changes = new QTableWidget(0, Columns, this);
    Changes->setObjectName("Changes");
    Changes->setHorizontalHeaderLabels({tr("Nastavení"), tr("Registry"), tr("V modulu"), tr("V souboru"), tr("Stav")});
    Changes->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Changes->horizontalHeader()->setStretchLastSection(true);
    Changes->verticalHeader()->hide();
    Changes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Changes->setSelectionMode(QAbstractItemView::NoSelection);
    content->addWidget(Changes, 1);

    SaveButton = toolsmenu::Button(this, "SaveButton", tr("Uložit do souboru"));
    CompareButton = toolsmenu::Button(this, "CompareButton", tr("Porovnat se souborem"));
    RestoreButton = toolsmenu::Button(this, "RestoreButton", tr("Obnovit ze souboru"));
    Assemble(content, {SaveButton, CompareButton, RestoreButton});

    connect(SaveButton, &QPushButton::clicked, this, &BackupWindow::Save);
    connect(CompareButton, &QPushButton::clicked, this, &BackupWindow::Compare);
    connect(RestoreButton, &QPushButton::clicked, this, &BackupWindow::Restore);
    connect(WithLink, &QCheckBox::toggled, this, &BackupWindow::ShowChanges);
    resize(760, 420);
}

void BackupWindow::FormShow() {
    AdresaModulu = PData ? PData->Adresa : 0;
    file_.reset();
    busy_ = false;
    ShowChanges();
    SetStatus(" ");
}

QString BackupWindow::Path() const { return FileField->text().trimmed(); }

// A file named and the module within reach, nothing else under way.
bool BackupWindow::Start() {
    if (busy_) return false;
    if (Path().isEmpty()) {
        SetStatus(tr(" Zadejte jméno souboru."));
        return false;
    }
    return MuzeMluvit();
}

void BackupWindow::Save() {
    if (!Start()) return;
    busy_ = true;
    SetStatus(tr(" Probíhá čtení nastavení z modulu"));
    OnWorker(
        this, [address = AdresaModulu](kv618::Connection& c) { return ReadModule(c.At(address)); },
        [path = Path()](BackupWindow* w, const Read& r) { w->Saved(r, path); });
}

void BackupWindow::Saved(const Read& r, const QString& path) {
    busy_ = false;
    if (Closed()) return;
    if (r.error) return SetStatus(" " + QString::fromStdString(r.errorText));
    const std::string text = settings::Compose(r.identity, r.settings, std::chrono::system_clock::now());
    if (const auto f = files::Replace(path.toStdString(), text); f.failed())
        return SetStatus(" " + toolsmenu::FileFailureText(f));
    SetStatus(tr(" Nastavení modulu %1 uložena do souboru %2.").arg(QString::fromStdString(r.identity.Text()), path));
}

namespace {

// Why a setting's value in a file is refused: the refusals of the program's
// windows where they have one.
QString BadValueText(const Setting& s) {
    switch (s.kind) {
        case settings::Kind::Address: return BackupWindow::tr("Adresa modulu musí být v rozsahu 0-255");
        case settings::Kind::Rate: return BackupWindow::tr("komunikační rychlost musí být jedna z 600 až 115200 Bd");
        case settings::Kind::Bits: return BackupWindow::tr("hodnota musí být 32bitové číslo, např. 0x0000FFFF");
        case settings::Kind::Pulses: return BackupWindow::tr("Impulsní číslo musí být v rozsahu 1-1000");
    }
    return "?";
}

QString FaultText(const settings::FileFault& f) {
    using F = settings::FileFault;
    const QString key = QString::fromStdString(f.key);
    switch (f.kind) {
        case F::NoEntry: return BackupWindow::tr("očekává se klíč = hodnota");
        case F::Empty: return BackupWindow::tr("soubor neobsahuje žádná nastavení");
        case F::NoFormatLine: return BackupWindow::tr("soubor nezačíná řádkem \"format = %1\"").arg(settings::FormatLine);
        case F::Repeated: return BackupWindow::tr("klíč %1 už stojí na řádku %2").arg(key).arg(f.earlierLine);
        case F::NoValue: return BackupWindow::tr("klíč %1 nemá hodnotu").arg(key);
        case F::UnknownKey: return BackupWindow::tr("neznámý klíč %1").arg(key);
        case F::BadValue: return BadValueText(*f.setting);
        case F::Missing: return BackupWindow::tr("soubor končí, ale chybí v něm klíč %1").arg(key);
    }
    return "?";
}

}  // namespace

void BackupWindow::Compare() {
    if (!Start()) return;
    file_.reset();
    ShowChanges();
    std::string text;
    if (const auto f = files::Read(Path().toStdString(), text); f.failed())
        return SetStatus(" " + toolsmenu::FileFailureText(f));
    auto parsed = settings::Parse(text);
    if (parsed.fault)
        return SetStatus(tr(" Soubor %1, řádek %2: %3; nic se nezapsalo.")
                             .arg(Path())
                             .arg(parsed.fault->line)
                             .arg(FaultText(*parsed.fault)));
    busy_ = true;
    SetStatus(tr(" Probíhá čtení nastavení z modulu"));
    OnWorker(
        this, [address = AdresaModulu](kv618::Connection& c) { return ReadModule(c.At(address)); },
        [file = std::move(parsed.file)](BackupWindow* w, const Read& r) {
            w->busy_ = false;
            if (w->Closed()) return;
            w->file_ = file;
            w->Compared(r);
        });
}

void BackupWindow::Compared(const Read& r) {
    if (r.error) {
        file_.reset();
        return SetStatus(" " + QString::fromStdString(r.errorText));
    }
    const QString name = QString::fromStdString(r.identity.Name()).trimmed();
    if (!settings::SameKind(*file_, r.identity)) {
        const QString module = QString::fromStdString(file_->module);
        file_.reset();
        ShowChanges();
        return SetStatus(tr(" Soubor je pro modul %1, připojen je modul %2; nic se nezapsalo.").arg(module, name));
    }
    held_ = r.settings;
    ShowChanges();
    QString text = Changes->rowCount() == 0 ? tr(" Modul má nastavení ze souboru; není co zapsat.")
                                            : tr(" Liší se nastavení: %1.").arg(Changes->rowCount());
    if (!settings::SameVersion(*file_, r.identity))
        text += tr(" Soubor je z modulu verze %1, připojený modul má verzi %2.")
                    .arg(QString::fromStdString(file_->version), QString::fromStdString(r.identity.Version()).trimmed());
    SetStatus(text);
}

namespace {

// By the setting's key in the file, which names it for good.
QString Label(const Setting& s) {
    const std::string_view key = s.key;
    if (key == "address") return BackupWindow::tr("Adresa modulu");
    if (key == "baud") return BackupWindow::tr("Komunikační rychlost");
    if (key == "initial-outputs") return BackupWindow::tr("Počáteční stav DOUT");
    if (key == "input-negation") return BackupWindow::tr("Negace DIN");
    if (key == "output-negation") return BackupWindow::tr("Negace DOUT");
    // "pulse-number.N"
    return BackupWindow::tr("Impulsní číslo čítače %1").arg(QString::fromStdString(std::string(key.substr(key.rfind('.') + 1))));
}

}  // namespace

// One row per setting the file would change; the address and the rate stay
// unless asked for.
void BackupWindow::ShowChanges() {
    Changes->setRowCount(0);
    RestoreButton->setEnabled(false);
    if (!file_) return;
    const bool withLink = WithLink->isChecked();
    for (const auto& d : settings::Differences(file_->settings, held_)) {
        const Setting& s = *d.setting;
        std::vector<uint8_t> registers;
        for (const uint8_t r : s.registers)
            if (kv618::StoredByte(file_->settings, r) != kv618::StoredByte(held_, r)) registers.push_back(r);
        const int row = Changes->rowCount();
        Changes->insertRow(row);
        const QStringList cells = {Label(s), QString::fromStdString(settings::RegisterList(registers)), ValueShown(s, d.held), ValueShown(s, d.wanted),
                                   settings::IsLink(s) && !withLink ? tr("ponechá se (jen na přání)")
                                                                     : tr("zapíše se")};
        for (int c = 0; c < Columns; ++c) Changes->setItem(row, c, new QTableWidgetItem(cells[c]));
        Changes->item(row, ColumnSetting)->setData(SettingRole, IndexOf(s));
    }
    RestoreButton->setEnabled(!settings::RegistersToWrite(file_->settings, held_, withLink).empty());
}

void BackupWindow::Restore() {
    if (busy_ || !file_ || !MuzeMluvit()) return;
    busy_ = true;
    RestoreButton->setEnabled(false);
    SetStatus(tr(" Probíhá zápis nastavení do modulu"));
    QPointer<BackupWindow> self(this);
    const QString caption = windowTitle();
    LinkWorker::Program().Post([self, caption, address = AdresaModulu, wanted = file_->settings,
                                withLink = WithLink->isChecked()](kv618::Connection& c) {
        Restored r = RestoreInto(c.At(address), wanted, withLink);
        OnWindowsThread([self, caption, r = std::move(r)] {
            if (self) {
                self->busy_ = false;
                if (!self->Closed()) return self->ShowRestored(r);
            }
            // A restore begun is finished; its window is no longer there to say how.
            Report::Program().Tell(caption, RestoredText(r));
        });
    });
}

QString BackupWindow::RestoredText(const Restored& r) {
    if (r.readError) return " " + QString::fromStdString(r.errorText);
    if (!r.write.ok()) {
        const QString why = r.write.mismatch ? tr("Chyba zápisu dat.") : QString::fromStdString(r.errorText);
        return tr(" %1 Zapsáno a ověřeno %2 z %3 registrů.").arg(why).arg(r.write.done).arg(r.registers.size());
    }
    if (r.registers.empty()) return tr(" Modul už má nastavení ze souboru; nic se nezapsalo.");
    QString text = tr(" Zapsáno a ověřeno čtením: %1 nastavení.").arg(r.writes.size());
    const bool link = std::any_of(r.registers.begin(), r.registers.end(),
                                  [](uint8_t reg) { return kv618::BlockOf(reg) == kv618::Block::AddressAndBaud; });
    if (link) text += tr(" Adresa a rychlost platí od příštího zapnutí modulu.");
    return text;
}

namespace {

// "bajty 0, 1"
QString Bytes(const std::vector<size_t>& bytes) {
    QStringList list;
    for (const size_t b : bytes) list << QString::number(b);
    return (bytes.size() == 1 ? BackupWindow::tr("bajt %1") : BackupWindow::tr("bajty %1")).arg(list.join(", "));
}

// What became of one setting's bytes.
QString StateText(const settings::SettingWrite& w, bool mismatch) {
    const std::vector<size_t> written = w.In(ByteState::Written), uncertain = w.In(ByteState::Uncertain),
                              left = w.In(ByteState::Left);
    const QString failed = mismatch ? BackupWindow::tr("po zápisu přečtena jiná hodnota")
                                    : BackupWindow::tr("nejisté (zápis nebo jeho kontrola selhaly)");
    if (uncertain.empty() && left.empty()) return BackupWindow::tr("zapsáno a ověřeno");
    if (uncertain.empty() && written.empty()) return BackupWindow::tr("nezapsáno");
    if (w.setting->registers.size() == 1) return failed;
    QStringList parts;
    if (!written.empty()) parts << BackupWindow::tr("%1 zapsáno a ověřeno").arg(Bytes(written));
    if (!uncertain.empty()) parts << BackupWindow::tr("%1: %2").arg(Bytes(uncertain), failed);
    if (!left.empty()) parts << BackupWindow::tr("%1 nezapsáno").arg(Bytes(left));
    return parts.join("; ");
}

}  // namespace

void BackupWindow::ShowRestored(const Restored& r) {
    SetStatus(RestoredText(r));
    for (const auto& w : r.writes) {
        for (int row = 0; row < Changes->rowCount(); ++row)
            if (Changes->item(row, ColumnSetting)->data(SettingRole).toInt() == IndexOf(*w.setting))
                Changes->item(row, ColumnState)->setText(StateText(w, r.write.mismatch));
    }
    // What the module holds now is known only from a new comparison.
    file_.reset();
}
