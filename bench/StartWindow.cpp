// Start-up probe: starts a Qt application with one main window and, as soon
// as the window has been painted for the first time, says so on standard
// output and ends.  Built twice: with the program's main window (TForm1) and
// with a bare QMainWindow of the same size, both with the same compiler
// flags, so the difference between the two is what the program adds.  A
// third build shows one line of text in the bare window: the first text
// painted loads the fonts, which the bare window never does.
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifdef KV_START_PROGRAM
#include "Dekl.h"
#include "Hlavni.h"
#endif

namespace {

// Peak resident memory of this process image in KiB (VmHWM).  The parent's
// rusage of the child is no good: with a spawn that shares the parent's
// memory until exec, the kernel counts the parent's peak for the child.
long peakKiB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(status);
    return kib;
}

// Reports after the first paint has finished, then leaves without the
// window's closing (which would save settings and is not start-up).
class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, [] {
                std::printf("SHOWN %ld\n", peakKiB());
                std::fflush(stdout);
                _exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
#ifdef KV_START_PROGRAM
    // The settings are read from a path of the caller's, never from beside
    // the executable.
    if (argc > 1) NastavCestuNastaveni(argv[1]);
#endif
    QApplication app(argc, argv);
#ifdef KV_START_PROGRAM
    TForm1 window;
#else
    QMainWindow window;
    window.resize(600, 400);
#ifdef KV_START_TEXT
    window.setCentralWidget(new QLabel(QStringLiteral("KV-618 (v.1.04)")));
#endif
#endif
    FirstPaint probe;
    window.installEventFilter(&probe);
    window.show();
    return app.exec();
}
