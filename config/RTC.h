// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
