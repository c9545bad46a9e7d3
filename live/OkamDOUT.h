// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm9 : public QDialog {
    Q_OBJECT
public:
    explicit TForm9(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
