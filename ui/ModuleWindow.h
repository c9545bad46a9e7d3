// What every window that talks to the module is: a modal dialog with the
// program record, the address of the module it talks to, its status bar and,
// for a window that polls, its timer.  It knows whether the operator has
// closed it: what it had begun (a write, a reset, setting the clock) is
// carried out all the same, and its result then goes to the program's
// report (Report.h) instead of the closed window.
#pragma once

#include "Dekl.h"

#include <QDialog>
#include <cstdint>

class QShowEvent;
class QTimer;
class TStatusBar;

class ModuleWindow : public QDialog {
    Q_OBJECT
public:
    TData* PData = nullptr;
    // The live and clock windows' module, taken from TData when shown.
    uint8_t AdresaModulu = 0;
    TStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;  // the polling windows' timer, none elsewhere

    // Closed by the operator ("Cancel", the close box, Escape) and not
    // shown again since.
    bool Closed() const { return closed_; }

    // Every way out of the dialog ends here; a polling window stops its
    // timer, and no poll may run until it is shown again.
    void done(int Result) override;

public slots:
    virtual void FormShow() {}

protected:
    explicit ModuleWindow(QWidget* Owner) : QDialog(Owner) {}
    // A record, and the connection rule met; otherwise the status bar says
    // that the link is not initialised (nothing at all without a record).
    bool MuzeMluvit();
    // A window given back from the task bar is not a new opening.
    void showEvent(QShowEvent* Event) override;

private:
    bool closed_ = false;
};
