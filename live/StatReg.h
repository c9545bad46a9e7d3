// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm15 : public QDialog {
    Q_OBJECT
public:
    explicit TForm15(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
