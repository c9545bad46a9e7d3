// Finding the modules on a line: the interface and its parameters as the
// connection dialog takes them, a range of addresses and the rates to try;
// a progress bar with the address and rate being asked and the time left at
// most; the modules found, as they answer, with their address, rate and
// identification (and the addresses where something answered, but not as a
// module should, with why: two modules at one address, say); and
// "Připojit", which connects the program to the chosen module as the
// connection dialog would (TData's address, rate, handle, identification
// and status).  The same scan as `kv618 scan` (module/Scan.h), on the
// program's connection worker.
//
// "Hledat" closes the program's link, as "Inicializace připojení" does, and
// opens the chosen interface for the scan.  "Zastavit", the close box and
// "Zavřít" act at once: the scan stops after the exchange in flight, and a
// link that no "Připojit" made the program's is closed again.
#pragma once

#include "LinkWorker.h"
#include "Scan.h"
#include "ToolWindow.h"

#include <array>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

class ScanWindow : public ToolWindow {
    Q_OBJECT
public:
    explicit ScanWindow(QWidget* owner = nullptr);

    QComboBox* Interface = nullptr;
    // The interface's parameters, as the connection dialog's fields.
    std::array<QLabel*, 3> ParameterLabels{};
    std::array<QLineEdit*, 3> Parameters{};
    QSpinBox* First = nullptr;
    QSpinBox* Last = nullptr;
    std::array<QCheckBox*, 9> Rates{};  // in the order of the baud table
    QPushButton* ScanButton = nullptr;  // "Hledat", "Zastavit" while it runs
    QProgressBar* Progress = nullptr;
    QLabel* Asking = nullptr;           // the address and rate being asked, the time left
    QTableWidget* Found = nullptr;      // address, rate, identification (or what was wrong)
    QPushButton* ConnectButton = nullptr;

    bool Scanning() const { return static_cast<bool>(scan_); }
    // A module found, and connected to with "Připojit" since the window opened.
    bool Connected() const { return connected_; }

    void done(int result) override;

public slots:
    void FormShow() override;
    void InterfaceChanged();
    void ScanOrStop();
    void Connect();

private:
    bool TakeParameters();
    void Start();
    void Stop();
    void ShowProgress(const kv618::ScanProgress& p);
    void AddFound(const kv618::FoundModule& m);
    void AddOddAnswer(uint8_t address, int32_t rate, const QString& why);
    void AddRow(const QStringList& cells, int module);
    // The place in modules_ of a row's module; -1 for an odd answer's row.
    int ModuleOfRow(int row) const;
    void EnableConnect();
    struct Ended;
    void Finished(const Ended& e);

    StopFlag scan_;            // the scan under way, if any
    bool linkOpen_ = false;    // the scan's link is open on the worker
    bool connected_ = false;
    bool connecting_ = false;  // "Připojit" is out on the worker
    std::vector<kv618::FoundModule> modules_;
    int oddAnswers_ = 0;
};
