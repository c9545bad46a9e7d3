// Back up and restore a module's settings: every stored setting saved into a
// settings file (the file of `kv618 config save`, docs/settings-file.md),
// and a file compared with the module, setting by setting, old and new,
// before only what differs is written, each write read back.  The address
// and the baud rate are written only when asked for: they are the module's
// place on its line.  The same code as `kv618 config save` and `load`
// (module/SettingsFile.h, module/SettingsWrite.h).
//
// Every exchange runs on the connection worker.  A save or a comparison is
// abandoned with the window; a restore once begun is finished, every
// register written and read back, and its result then goes to the program's
// report (Report.h), as the configuration windows' writes do.
#pragma once

#include "SettingsFile.h"
#include "SettingsWrite.h"
#include "ToolWindow.h"

#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

class BackupWindow : public ToolWindow {
    Q_OBJECT
public:
    explicit BackupWindow(QWidget* owner = nullptr);

    QLineEdit* FileField = nullptr;
    QCheckBox* WithLink = nullptr;    // restore the address and the rate too
    QTableWidget* Changes = nullptr;  // what the file would change
    QPushButton* SaveButton = nullptr;
    QPushButton* CompareButton = nullptr;
    QPushButton* RestoreButton = nullptr;

    // A save, comparison or restore is under way on the worker.
    bool Busy() const { return busy_; }

    // What a save or a comparison read: the module's identity and every setting.
    struct Read {
        int32_t error = 0;
        std::string errorText;  // the library's text of the failing code
        kv618::Identification identity;
        TKonfigurace settings = VychoziKonfigurace();
    };

    // What a finished restore did, in the window's words: for the status
    // bar, or for the program's report when the window has closed.
    struct Restored {
        int32_t readError = 0;
        std::string errorText;  // the library's text of the failing code
        std::vector<uint8_t> registers;
        kv618::SequenceResult write;
        std::vector<kv618::settings::SettingWrite> writes;
    };
    static QString RestoredText(const Restored& r);

public slots:
    void FormShow() override;
    void Save();
    void Compare();
    void Restore();

private:
    QString Path() const;
    bool Start();
    void Saved(const Read& r, const QString& path);
    void Compared(const Read& r);
    void ShowChanges();
    void ShowRestored(const Restored& r);

    // The file compared last, and what the module held then.
    std::optional<kv618::settings::SavedFile> file_;
    TKonfigurace held_{};
    bool busy_ = false;
};
