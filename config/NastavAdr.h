// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm12 : public QDialog {
    Q_OBJECT
public:
    explicit TForm12(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
