// Results of what a window began and could no longer show, because the
// operator had closed it by the time its write, reset or clock setting
// ended.  Each is written to standard error and told to the main window,
// which shows the last one in its status bar until the next connection
// dialog.
#pragma once

#include <QObject>
#include <QString>

class Report : public QObject {
    Q_OBJECT
public:
    static Report& Program();

    // `Window`: the closed window's caption; `Text`: what its status bar would
    // have shown (with its leading blank).  On the user-interface thread.
    void Tell(const QString& Window, const QString& Text);

signals:
    void Told(const QString& Text);
};
