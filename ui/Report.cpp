#include "Report.h"

#include <iostream>

Report& Report::Program() {
    static Report report;
    return report;
}

void Report::Tell(const QString& Window, const QString& Text) {
    const QString line = Window + ":" + Text;
    std::cerr << "R_IV618: " << line.toStdString() << std::endl;
    emit Told(" " + line);
}
