// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
