#include "ModulNaLan.h"

#include "LinkWorker.h"
#include "Qxxx726.h"
#include "StatusBar.h"

#include <QCoreApplication>

namespace kvtest {

void DokonciPraci() {
    LinkWorker& worker = LinkWorker::Program();
    do {
        worker.WaitIdle();
        QCoreApplication::sendPostedEvents();
    } while (!worker.Idle());
}

void ModulNaLan::SetUp() {
    ASSERT_TRUE(Docasna.isValid());
    NastavCestuNastaveni(Docasna.filePath("R_iv618.ini").toStdString());
    Emu = std::make_unique<Emulator>(MoznostiEmulatoru());

    InicializujData(&Data);
    Data.Rozhrani = RozhraniKV1726;
    Data.InitParametry[0] = reinterpret_cast<intptr_t>(IpAdresa.c_str());
    Data.InitParametry[1] = Emu->udpPort();
    Data.InitParametry[2] = 200;  // ms
    // The program's link, opened on the connection worker as the connection
    // dialog opens it.
    const auto [kod, handle] = LinkWorker::Program().Run([&](kv618::Connection& Spojeni) {
        const int32_t kod = Spojeni.Open(RozhraniKV1726, Data.InitParametry, 9600, SlozkaKnihoven());
        return std::pair{kod, Spojeni.Handle()};
    });
    ASSERT_EQ(kod, 0);
    ASSERT_NE(handle, 0);
    Data.Handle = handle;
    Data.Adresa = 1;
    Data.Pripojeno = 1;
}

void ModulNaLan::TearDown() {
    DokonciPraci();
    LinkWorker::Program().Run([](kv618::Connection& Spojeni) { return Spojeni.Unload(); });
    Data.Handle = 0;
    Emu.reset();
    NastavCestuNastaveni("");
}

uint32_t ModulNaLan::Pozadavky() { return Emu->value("get requests"); }

void ModulNaLan::SmazLog() { EXPECT_EQ(Emu->command("clear log"), "ok"); }

QString ModulNaLan::TextUspechu() const { return TextChybyKodu(0); }

QString ModulNaLan::TextChybyKodu(int Kod) const {
    return " " + QString::fromStdString(TextKodu(RozhraniKV1726, Kod));
}

QString ModulNaLan::TextStavu(QWidget* Okno) {
    auto* stav = Prvek<TStatusBar>(Okno, "StatusBar1");
    return stav ? stav->Text(0) : QString("<chybí>");
}

}  // namespace kvtest
