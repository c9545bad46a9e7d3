#include "ZiveOkno.h"

#include "Qxxx726.h"
#include "StatusBar.h"

#include <QFrame>
#include <QPushButton>
#include <QTest>

std::string ZiveOkno::Posledni() { return Emu->command("get last"); }

QString ZiveOkno::TextPopisku(QWidget* Okno, int Cislo) {
    auto* popisek = Prvek<QLabel>(Okno, QString("Label%1").arg(Cislo));
    return popisek ? popisek->text() : QString("<chybí>");
}

void ZiveOkno::Stiskni(QWidget* Okno, const QString& Tlacitko) {
    auto* tlacitko = Prvek<QPushButton>(Okno, Tlacitko);
    ASSERT_NE(tlacitko, nullptr);
    QTest::mouseClick(tlacitko, Qt::LeftButton);
    kvtest::DokonciPraci();
}

void ZiveOkno::Nastav(const std::string& Co, uint32_t Hodnota) {
    ASSERT_EQ(Emu->command("set " + Co + " " + std::to_string(Hodnota)), "ok");
    ASSERT_EQ(Emu->value("get " + Co), Hodnota);
}

uint32_t ZiveOkno::Bity(QWidget* Okno) {
    uint32_t hodnota = 0;
    for (int n = 0; n < 32; ++n) {
        const QString text = TextPopisku(Okno, n + 33);
        EXPECT_TRUE(text == "0" || text == "1") << "bit " << n << ": " << text.toStdString();
        if (text == "1") hodnota |= 1U << n;
    }
    return hodnota;
}

void ZiveOkno::OverPanely(QWidget* Okno, int Pocet) {
    for (int p = 1; p <= Pocet; ++p) {
        auto* panel = Prvek<QFrame>(Okno, QString("Panel%1").arg(p));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->frameShadow(), QFrame::Sunken) << "Panel" << p;
    }
}

void ZiveOkno::OverCasovac(QWidget* Okno, bool Bezi, int Interval) {
    auto* casovac = Prvek<QTimer>(Okno, "Timer1");
    ASSERT_NE(casovac, nullptr);
    EXPECT_EQ(casovac->isActive(), Bezi);
    EXPECT_EQ(casovac->interval(), Interval);
    EXPECT_EQ(casovac->timerType(), Qt::PreciseTimer);
}

void ZiveOkno::OverOkno(QWidget* Okno, const QString& Jmeno, const QString& Titulek) {
    EXPECT_EQ(Okno->objectName(), Jmeno);
    EXPECT_EQ(Okno->windowTitle(), Titulek);
    EXPECT_EQ(Okno->minimumSize(), Okno->maximumSize()) << Jmeno.toStdString();
}
