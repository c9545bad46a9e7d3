#include "StatusBar.h"

#include <algorithm>

TStatusBar::TStatusBar(QWidget* Owner, const std::vector<int>& Sirky) : QStatusBar(Owner), sirky_(Sirky) {
    setObjectName("StatusBar1");
    setSizeGripEnabled(false);
    for (size_t i = 0; i < Sirky.size(); ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QString("StatusBar1_Panel%1").arg(i));
        // Texts come from the libraries and the module: never read them as markup.
        panel->setTextFormat(Qt::PlainText);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        if (Sirky[i] > 0) {
            panel->setFixedWidth(Sirky[i]);
            addWidget(panel);
        } else {
            addWidget(panel, 1);
        }
        panely_.push_back(panel);
    }
}

void TStatusBar::NastavText(int Panel, const QString& Text) {
    if (Panel < 0 || Panel >= PocetPanelu()) return;
    panely_[static_cast<size_t>(Panel)]->setText(Text);
    repaint();
}

void TStatusBar::NastavNovyText(int Panel, const QString& Text) {
    if (Panel < 0 || Panel >= PocetPanelu()) return;
    if (panely_[static_cast<size_t>(Panel)]->text() == Text) return;
    NastavText(Panel, Text);
}

void TStatusBar::RozsirPodleTextu(int Panel) {
    if (Panel < 0 || Panel >= PocetPanelu()) return;
    const auto i = static_cast<size_t>(Panel);
    if (sirky_[i] <= 0) return;
    panely_[i]->setFixedWidth(std::max(sirky_[i], panely_[i]->sizeHint().width()));
}

void TStatusBar::ZalamujText(int Radku) {
    for (QLabel* panel : panely_) {
        panel->setWordWrap(true);
        panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panel->setMinimumHeight(Radku * panel->fontMetrics().lineSpacing() + 2 * panel->frameWidth() + 2);
    }
    // The bar's height follows at once: the window places it by its size hint.
    reformat();
}

QString TStatusBar::Text(int Panel) const {
    if (Panel < 0 || Panel >= PocetPanelu()) return {};
    return panely_[static_cast<size_t>(Panel)]->text();
}
