#include "Obsluha.h"

#include "ModulNaLan.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdlib.h>

namespace obsluha {

std::string CtiSoubor(const std::string& Cesta) { return kvtest::ReadFile(Cesta); }

void ZapisSoubor(const std::string& Cesta, const std::string& Bajty) {
    std::ofstream f(Cesta, std::ios::binary | std::ios::trunc);
    f << Bajty;
}

bool Existuje(const std::string& Cesta) { return std::filesystem::exists(Cesta); }

void Napis(QLineEdit* Pole, const QString& Text) {
    ASSERT_NE(Pole, nullptr);
    Pole->setFocus();
    QTest::keyClick(Pole, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Pole, Qt::Key_Backspace);
    QTest::keyClicks(Pole, Text);
    ASSERT_EQ(Pole->text(), Text);
}

void Zvol(QComboBox* Seznam, int Index) {
    ASSERT_NE(Seznam, nullptr);
    Seznam->setFocus();
    if (Seznam->currentIndex() < 0) QTest::keyClick(Seznam, Qt::Key_Down);
    while (Seznam->currentIndex() < Index) QTest::keyClick(Seznam, Qt::Key_Down);
    while (Seznam->currentIndex() > Index) QTest::keyClick(Seznam, Qt::Key_Up);
    ASSERT_EQ(Seznam->currentIndex(), Index);
}

void Klikni(QAbstractButton* Tlacitko) {
    ASSERT_NE(Tlacitko, nullptr);
    QTest::mouseClick(Tlacitko, Qt::LeftButton);
    kvtest::DokonciPraci();
}

void VyberZMenu(QMenuBar* Lista, QMenu* Menu, QAction* Polozka) {
    ASSERT_NE(Polozka, nullptr);
    QTest::mouseClick(Lista, Qt::LeftButton, {}, Lista->actionGeometry(Menu->menuAction()).center());
    ASSERT_TRUE(Menu->isVisible());
    for (qsizetype i = 0; i < Menu->actions().size() && Menu->activeAction() != Polozka; ++i)
        QTest::keyClick(Menu, Qt::Key_Down);
    ASSERT_EQ(Menu->activeAction(), Polozka) << Polozka->text().toStdString();
    QTest::keyClick(Menu, Qt::Key_Return);
}

namespace {
void Zkus(std::function<void(QWidget*)> Akce, int ZbyvaPokusu) {
    QTimer::singleShot(10, [Akce = std::move(Akce), ZbyvaPokusu]() mutable {
        QWidget* okno = QApplication::activeModalWidget();
        if (!okno && ZbyvaPokusu > 0) {
            Zkus(std::move(Akce), ZbyvaPokusu - 1);
            return;
        }
        if (!okno) {
            ADD_FAILURE() << "no modal window opened";
            return;
        }
        Akce(okno);
        // A failed expectation must not leave the test waiting on the window.
        if (okno->isVisible()) okno->close();
    });
}
}  // namespace

void VModalnimOkne(std::function<void(QWidget*)> Akce) { Zkus(std::move(Akce), 500); }

}  // namespace obsluha
