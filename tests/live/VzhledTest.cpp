// What the operator sees: rows level with their names, nothing outside its
// panel, and a window that keeps its fixed size whatever the status bar says.
#include "OkamCNT.h"
#include "OkamDIN.h"
#include "OkamDOUT.h"
#include "StatReg.h"
#include "StatusBar.h"
#include "ZiveOkno.h"

#include <QApplication>
#include <QFrame>
#include <QTimer>

#include <ostream>

void PrintTo(const QSize& Velikost, std::ostream* Vystup) {
    *Vystup << Velikost.width() << "x" << Velikost.height();
}

namespace {

class Vzhled : public ZiveOkno {
protected:
    // A changed text asks for a new layout, which climbs to the window one
    // posted event at a time.
    static void Vyrid() {
        for (int i = 0; i < 10; ++i) QApplication::processEvents();
    }

    static QRect VOkne(QWidget* Okno, QWidget* Prvek) {
        return QRect(Prvek->mapTo(Okno, QPoint(0, 0)), Prvek->size());
    }

    // Name label `Jmeno` and value label `Hodnota` stand in one row, the
    // value inside its panel.
    void OverRadek(QWidget* Okno, int Jmeno, int Hodnota) {
        auto* jmeno = Prvek<QLabel>(Okno, QString("Label%1").arg(Jmeno));
        auto* hodnota = Prvek<QLabel>(Okno, QString("Label%1").arg(Hodnota));
        ASSERT_TRUE(jmeno && hodnota);
        const QRect j = VOkne(Okno, jmeno), h = VOkne(Okno, hodnota);
        EXPECT_EQ(j.center().y(), h.center().y()) << "Label" << Jmeno << " and Label" << Hodnota;
        EXPECT_LT(j.right(), h.left()) << "Label" << Jmeno << " overlaps its value";
        EXPECT_TRUE(hodnota->parentWidget()->rect().contains(hodnota->geometry())) << "Label" << Hodnota;
        EXPECT_GE(jmeno->width(), jmeno->fontMetrics().horizontalAdvance(jmeno->text())) << "Label" << Jmeno;
        EXPECT_GE(hodnota->width(), hodnota->fontMetrics().horizontalAdvance("1")) << "Label" << Hodnota;
    }

    template <typename TOkno>
    void DlouhyTextStavu() {
        TOkno okno;
        Ukaz(okno);
        if (auto* casovac = okno.template findChild<QTimer*>("Timer1")) casovac->stop();
        Vyrid();
        const QSize velikost = okno.size();
        // The library's text for a module that does not answer shows whole.
        okno.StatusBar1->NastavText(0, TextChybyKodu(BezOdpovedi));
        Vyrid();
        auto* panel = Prvek<QLabel>(&okno, "StatusBar1_Panel0");
        ASSERT_NE(panel, nullptr);
        const bool vejdeSe = panel->wordWrap()
                                 ? panel->heightForWidth(panel->width()) <= panel->height()
                                 : panel->fontMetrics().horizontalAdvance(panel->text()) <= panel->contentsRect().width();
        EXPECT_TRUE(vejdeSe) << okno.objectName().toStdString();
        EXPECT_TRUE(okno.rect().contains(VOkne(&okno, panel))) << okno.objectName().toStdString();
        EXPECT_EQ(okno.size(), velikost) << okno.objectName().toStdString();

        // Anything longer is cut at the window's edge; the window stays.
        okno.StatusBar1->NastavText(0, " " + TextChybyKodu(BezOdpovedi) + " " + TextChybyKodu(BezOdpovedi));
        Vyrid();
        EXPECT_EQ(okno.size(), velikost) << okno.objectName().toStdString();
        EXPECT_EQ(okno.minimumSize(), velikost) << okno.objectName().toStdString();
        EXPECT_EQ(okno.maximumSize(), velikost) << okno.objectName().toStdString();
    }
};

TEST_F(Vzhled, BitRowsStandLevelWithTheirNames) {
    TForm11 vstupy;
    TForm15 status;
    for (QDialog* okno : {static_cast<QDialog*>(&vstupy), static_cast<QDialog*>(&status)}) {
        okno->show();
        Vyrid();
        for (int n = 0; n < 32; ++n) OverRadek(okno, n + 1, n + 33);
        for (int p = 1; p <= 4; ++p) {
            const QRect panel = VOkne(okno, Prvek<QFrame>(okno, QString("Panel%1").arg(p)));
            EXPECT_TRUE(okno->rect().contains(panel)) << "Panel" << p;
        }
    }
}

TEST_F(Vzhled, CounterGridHasItsHeadingsAndRowNamesInLine) {
    TForm6 okno;
    okno.show();
    Vyrid();
    const int popisky[5][4] = {{5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}, {17, 18, 19, 20}, {26, 27, 28, 29}};
    for (int s = 0; s < 5; ++s) {
        const QRect panel = VOkne(&okno, Prvek<QFrame>(&okno, QString("Panel%1").arg(s + 1)));
        const QRect nadpis = VOkne(&okno, Prvek<QLabel>(&okno, QString("Label%1").arg(21 + s)));
        EXPECT_LE(nadpis.bottom(), panel.top()) << "heading " << s << " above its panel";
        EXPECT_LE(panel.left(), nadpis.center().x());
        EXPECT_GE(panel.right(), nadpis.center().x());
        for (int c = 0; c < 4; ++c) {
            OverRadek(&okno, c + 1, popisky[s][c]);
            auto* hodnota = okno.findChild<QLabel*>(QString("Label%1").arg(popisky[s][c]));
            EXPECT_GE(hodnota->width(), hodnota->fontMetrics().horizontalAdvance("4294967295"));
        }
    }
}

TEST_F(Vzhled, LongStatusTextKeepsTheWindowSize) {
    DlouhyTextStavu<TForm11>();
    DlouhyTextStavu<TForm9>();
    DlouhyTextStavu<TForm6>();
    DlouhyTextStavu<TForm15>();
}

TEST_F(Vzhled, LibraryErrorTextOfAPollKeepsTheWindowSize) {
    TForm11 okno;
    Ukaz(okno);
    okno.Timer1->stop();
    Vyrid();
    const QSize velikost = okno.size();
    ASSERT_EQ(Emu->command("fault timeout 0 64 1"), "ok");
    Tik(okno);
    Vyrid();
    EXPECT_EQ(TextStavu(&okno), TextChybyKodu(BezOdpovedi));
    EXPECT_EQ(okno.size(), velikost);
}

}  // namespace
