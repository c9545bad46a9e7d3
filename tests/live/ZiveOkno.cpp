#include "ZiveOkno.h"

#include "Qxxx726.h"
#include "StatusBar.h"

void ZiveOkno::SetUp() {
    ASSERT_TRUE(Docasna.isValid());
    NastavCestuNastaveni(Docasna.filePath("R_iv618.ini").toStdString());
    Emu = std::make_unique<kvtest::Emulator>();

    InicializujData(&Data);
    Data.Rozhrani = RozhraniKV1726;
    Data.InitParametry[0] = reinterpret_cast<intptr_t>(IpAdresa.c_str());
    Data.InitParametry[1] = Emu->udpPort();
    Data.InitParametry[2] = 200;  // ms
    int32_t handle = 0;
    ASSERT_EQ(InitRozhrani(RozhraniKV1726, &handle, Data.InitParametry), 0);
    ASSERT_NE(handle, 0);
    ASSERT_EQ(KonfigRozhrani(RozhraniKV1726, handle, 9600, TimeoutRychlosti(9600), 2), 0);
    Data.Handle = handle;
    Data.Adresa = 1;
    Data.Pripojeno = 1;
}

void ZiveOkno::TearDown() {
    if (Data.Handle != 0) UkonciRozhrani(RozhraniKV1726, &Data.Handle);
    Emu.reset();
    NastavCestuNastaveni("");
}

uint32_t ZiveOkno::Pozadavky() { return Emu->value("get requests"); }

std::string ZiveOkno::Posledni() { return Emu->command("get last"); }

QString ZiveOkno::TextUspechu() const { return " " + QString::fromStdString(TextKodu(RozhraniKV1726, 0)); }

QString ZiveOkno::TextChybyKodu(int Kod) const { return " " + QString::fromStdString(TextKodu(RozhraniKV1726, Kod)); }

QString ZiveOkno::TextPopisku(QWidget* Okno, int Cislo) {
    auto* popisek = Prvek<QLabel>(Okno, QString("Label%1").arg(Cislo));
    return popisek ? popisek->text() : QString("<chybí>");
}

QString ZiveOkno::TextStavu(QWidget* Okno) {
    auto* stav = Prvek<TStatusBar>(Okno, "StatusBar1");
    return stav ? stav->Text(0) : QString("<chybí>");
}
