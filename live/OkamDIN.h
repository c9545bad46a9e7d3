// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm11 : public QDialog {
    Q_OBJECT
public:
    explicit TForm11(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
