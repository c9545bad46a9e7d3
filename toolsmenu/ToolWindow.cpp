#include "ToolWindow.h"

#include "FileTexts.h"
#include "StatusBar.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>


namespace toolsmenu {

namespace {

// The words of these helpers, for Qt's translation under the context "toolsmenu".
class Words {
    Q_DECLARE_TR_FUNCTIONS(toolsmenu)
};

}  // namespace

QHBoxLayout* FileRow(QWidget* window, const QString& name, QLineEdit*& field, bool save, const QString& filter) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(Words::tr("Soubor"), window);
    field = new QLineEdit(window);
    field->setObjectName(name);
    field->setMinimumWidth(320);
    label->setBuddy(field);
    auto* choose = new QPushButton(Words::tr("Vybrat…"), window);
    choose->setObjectName(name + "Choose");
    choose->setAutoDefault(false);
    QLineEdit* target = field;
    QObject::connect(choose, &QPushButton::clicked, window, [window, target, save, filter] {
        const QString path = save ? QFileDialog::getSaveFileName(window, QString(), target->text(), filter)
                                  : QFileDialog::getOpenFileName(window, QString(), target->text(), filter);
        if (!path.isEmpty()) target->setText(path);
    });
    row->addWidget(label);
    row->addWidget(field, 1);
    row->addWidget(choose);
    return row;
}

QPushButton* Button(QWidget* window, const char* name, const QString& text) {
    auto* button = new QPushButton(text, window);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

QString FileFailureText(const files::Failure& f) {
    return Words::tr("Soubor %1: %2.").arg(PathText(f.path), QString::fromStdString(i18n::FileReasonCzech(f)));
}

}  // namespace toolsmenu

ToolWindow::ToolWindow(QWidget* owner, const char* name, const QString& title) : ModuleWindow(owner) {
    setObjectName(name);
    setWindowTitle(title);
}

void ToolWindow::Assemble(QLayout* content, std::initializer_list<QPushButton*> buttons, const std::vector<int>& panels) {
    CloseButton = toolsmenu::Button(this, "CloseButton", tr("Zavřít"));
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);
    auto* row = new QHBoxLayout;
    for (QPushButton* b : buttons) row->addWidget(b);
    row->addStretch();
    row->addWidget(CloseButton);
    auto* inside = new QVBoxLayout;
    inside->setContentsMargins(12, 12, 12, 8);
    inside->setSpacing(10);
    inside->addLayout(content, 1);
    inside->addLayout(row);

    StatusBar1 = new TStatusBar(this, panels);
    // A library's text or a file's path is longer than the window is wide.
    StatusBar1->ZalamujText(2);
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    whole->setSpacing(0);
    whole->addLayout(inside, 1);
    whole->addWidget(StatusBar1);
}

void ToolWindow::SetStatus(const QString& text) { StatusBar1->NastavText(0, text); }
