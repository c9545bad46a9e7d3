// Status bar with fixed-width text panels, as every window of the program
// has.  A text set here is painted at once, so it shows while an exchange
// with the module keeps the user-interface thread busy.
#pragma once

#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <vector>

class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    // Widths in pixels; a width of 0 makes the panel take the remaining room.
    TStatusBar(QWidget* Owner, const std::vector<int>& Sirky);

    void NastavText(int Panel, const QString& Text);
    // The same, but a text the panel already shows is not painted again: for
    // a poll that shows the same result tick after tick (the forced repaint
    // was most of a polling window's cost).
    void NastavNovyText(int Panel, const QString& Text);
    // A fixed-width panel grows until its whole text shows; it never shrinks
    // below the width it was built with.  Design widths suit a narrower font
    // than the platform's may be.
    void RozsirPodleTextu(int Panel);
    // Panels of a window too narrow for a long message wrap it into this
    // many lines; the bar is that much higher.
    void ZalamujText(int Radku);
    QString Text(int Panel = 0) const;
    int PocetPanelu() const { return static_cast<int>(panely_.size()); }

private:
    std::vector<QLabel*> panely_;
    std::vector<int> sirky_;
};
