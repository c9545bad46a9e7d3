// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
