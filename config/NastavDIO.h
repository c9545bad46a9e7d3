// Placeholder until the window is built.
#pragma once

#include "Dekl.h"

#include <QDialog>

class TForm14 : public QDialog {
    Q_OBJECT
public:
    explicit TForm14(QWidget* Owner = nullptr);
    TData* PData = nullptr;
};
