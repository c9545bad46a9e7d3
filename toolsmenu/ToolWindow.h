// What the windows of the tools' menu ("Nástroje") build alike: a file row
// with its chooser, the buttons along the foot ending in "Zavřít", the
// status bar, and the words for a file that failed.  They are not designed
// windows: their names are English, their texts Czech through Qt's
// translation (tr), so that another language can follow as a catalogue.
#pragma once

#include "Files.h"
#include "ModuleWindow.h"

#include <QString>

#include <initializer_list>
#include <vector>

class QBoxLayout;
class QHBoxLayout;
class QLayout;
class QLineEdit;
class QPushButton;
class QWidget;

namespace toolsmenu {

// A label, a field for a file's path and a button that opens the file
// chooser (`save`: a file to write, otherwise one to read).  The field is
// named `name`; a path chosen there replaces what the field holds.
QHBoxLayout* FileRow(QWidget* window, const QString& name, QLineEdit*& field, bool save, const QString& filter);

QPushButton* Button(QWidget* window, const char* name, const QString& text);

// What went wrong with a file: its name and the windows' Czech reason
// (i18n/FileTexts.h), "Soubor x: soubor je jen pro čtení (...)."
QString FileFailureText(const files::Failure& failure);

// A path's text for a message.
inline QString PathText(const std::string& path) { return QString::fromStdString(path); }

}  // namespace toolsmenu

// A window of the tools' menu: "Zavřít" at the right of its row of buttons
// closes it, and its first status panel says how the last action went.
class ToolWindow : public ModuleWindow {
    Q_OBJECT
public:
    QPushButton* CloseButton = nullptr;

protected:
    // `name`: the window's object name, which its tests find it by.
    ToolWindow(QWidget* owner, const char* name, const QString& title);

    // Lays the window out: `content` above a row of `buttons` and "Zavřít",
    // and the status bar along the foot (StatusBar1): one panel, or panels of
    // these widths (0: the rest of the width).
    void Assemble(QLayout* content, std::initializer_list<QPushButton*> buttons, const std::vector<int>& panels = {0});

    void SetStatus(const QString& text);
};
