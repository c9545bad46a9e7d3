// The settings file, checked on the bytes on disk.
#include "Dekl.h"
#include "IniSoubor.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// "[Připojení]" in Windows-1250.
const std::string Pripojeni1250 = "[P\xF8ipojen\xED]";

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(slozka_.empty());
        cesta_ = slozka_ + "/R_iv618.ini";
        NastavCestuNastaveni(cesta_);
        InicializujData(&data_);
    }
    void TearDown() override {
        ::chmod(slozka_.c_str(), 0700);  // so that the folder can go
        NastavCestuNastaveni("");
    }
    void Zapis(const std::string& bajty) {
        std::ofstream f(cesta_, std::ios::binary);
        f << bajty;
    }
    // The file with these bytes, read into the test's record.
    bool Nacti(const std::string& bajty) {
        Zapis(bajty);
        return NactiNastaveni(&data_);
    }
    // A fresh record, read from the file as it stands.
    static TData Znovu() {
        TData zpet;
        InicializujData(&zpet);
        EXPECT_TRUE(NactiNastaveni(&zpet));
        return zpet;
    }
    std::string Obsah() const { return kvtest::ReadFile(cesta_); }
    const kvtest::TemporaryFolder docasna_{"kvsettings"};
    const std::string slozka_ = docasna_.path();
    std::string cesta_;
    TData data_;
};

TEST(Record, FreshRecordHoldsTheDefaults) {
    TData d;
    d.Handle = 5;
    d.Pripojeno = 1;
    InicializujData(&d);
    InicializujData(nullptr);
    EXPECT_EQ(d.Status, "Připojení modulu dosud neinicializováno");
    EXPECT_EQ(d.Pripojeno, 0);
    EXPECT_EQ(d.Handle, 0);
    EXPECT_EQ(d.IdentModulu, "");
    EXPECT_EQ(d.Rychlost, 9600);
    EXPECT_EQ(d.BazovaAdresa, 768);
    EXPECT_EQ(d.CisloPortu, 1);
    EXPECT_EQ(d.IPAdresa, "192.168.0.99");
    EXPECT_EQ(d.UDPPort, 5000);
    EXPECT_EQ(d.UDPTimeout, 200);
    const TKonfigurace& k = d.Konfigurace;
    EXPECT_EQ(k.UlozenaAdresa, 1);
    EXPECT_EQ(k.UlozenaRychlost, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(k.ImpulsniCislo[i], 1);
        EXPECT_EQ(k.NegaceDIN[i], 0xFF);
        EXPECT_EQ(k.NegaceDOUT[i], 0xFF);
        EXPECT_EQ(k.PocatecniDOUT[i], 0);
    }
}

TEST_F(Settings, NullRecordAndMissingFileChangeNothing) {
    EXPECT_FALSE(NactiNastaveni(nullptr));
    EXPECT_FALSE(UlozNastaveni(nullptr));
    EXPECT_FALSE(NactiNastaveni(&data_));
    EXPECT_EQ(data_.Rozhrani, 0);
    EXPECT_FALSE(fs::exists(cesta_));
}

TEST_F(Settings, OnlyTheInterfaceKeyGivesItsInterfaceAndKeepsTheRest) {
    EXPECT_TRUE(Nacti(Pripojeni1250 + "\r\nRozhran\xED=USB-1726\r\n"));
    EXPECT_EQ(data_.Rozhrani, 3);
    EXPECT_EQ(data_.Adresa, 0);
    EXPECT_EQ(data_.IPAdresa, "192.168.0.99");
}

TEST_F(Settings, InterfaceNameIsCaseSensitiveButNumbersAreStillRead) {
    EXPECT_TRUE(Nacti(Pripojeni1250 + "\r\nRozhran\xED=usb-1726\r\nAdresa=7\r\n"));
    EXPECT_EQ(data_.Rozhrani, 0);
    EXPECT_EQ(data_.Adresa, 7);
}

TEST_F(Settings, FileWithoutTheInterfaceKeyIsIgnoredWhole) {
    EXPECT_FALSE(Nacti(Pripojeni1250 + "\r\nAdresa=5\r\n"));
    EXPECT_EQ(data_.Adresa, 0);
}

TEST_F(Settings, NumbersAreCutToTheFieldWidthAndNonNumbersIgnored) {
    EXPECT_TRUE(Nacti(Pripojeni1250 + "\r\nRozhran\xED=PCI-726\r\nAdresa=300\r\nRychlost=12abc\r\n"
                                      "[PCI-726]\r\nB\xE1zov\xE1 adresa=70000\r\n[COMx]\r\n\xC8\xEDslo portu=-1\r\n"));
    EXPECT_EQ(data_.Rozhrani, 1);
    EXPECT_EQ(data_.Adresa, 44);
    EXPECT_EQ(data_.Rychlost, 9600);
    EXPECT_EQ(data_.BazovaAdresa, 4464);
    EXPECT_EQ(data_.CisloPortu, 255);
}

TEST_F(Settings, SectionsAndKeysMatchWithoutRegardToCaseCzechLettersIncluded) {
    EXPECT_TRUE(Nacti("[P\xD8IPOJEN\xCD]\nROZHRAN\xCD=KV-1726\n[kv-1726]\nip ADRESA = 127.0.0.1 \nudp port=5123\n"));
    EXPECT_EQ(data_.Rozhrani, 4);
    EXPECT_EQ(data_.IPAdresa, "127.0.0.1");
    EXPECT_EQ(data_.UDPPort, 5123);
}

TEST_F(Settings, FirstSaveWritesWindowsIniBytes) {
    ASSERT_TRUE(UlozNastaveni(&data_));
    EXPECT_EQ(Obsah(), Pripojeni1250 + "\r\nRozhran\xED=COMx\r\nAdresa=0\r\nRychlost=9600\r\n"
                                       "[COMx]\r\n\xC8\xEDslo portu=1\r\n");
    EXPECT_EQ(Obsah().substr(0, 11), "\x5B\x50\xF8\x69\x70\x6F\x6A\x65\x6E\xED\x5D");
}

TEST_F(Settings, SaveRoundTripsEveryInterfacesKeys) {
    data_.Rozhrani = 4;
    data_.Adresa = 17;
    data_.Rychlost = 115200;
    data_.IPAdresa = "127.0.0.1";
    data_.UDPPort = 6001;
    data_.UDPTimeout = 350;
    ASSERT_TRUE(UlozNastaveni(&data_));
    const TData zpet = Znovu();
    // Every connection setting comes back as it was saved.
    const auto spojeni = [](const TData& d) {
        return std::tuple(d.Rozhrani, d.Adresa, d.Rychlost, d.CisloPortu, d.BazovaAdresa, d.IPAdresa, d.UDPPort,
                          d.UDPTimeout);
    };
    EXPECT_EQ(spojeni(zpet), spojeni(data_));
    EXPECT_EQ(zpet.UDPTimeout, 350);
}

TEST_F(Settings, SavingKeepsEverythingElseAndOtherInterfacesKeys) {
    const std::string puvodni = "; nastaveni dilny\r\n[Jine]\r\nklic=hodnota\r\n\r\n" + Pripojeni1250 +
                                "\r\nRozhran\xED=KV-1726\r\nAdresa=3\r\n; poznamka\r\n\r\n"
                                "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=5123\r\n"
                                "[COMx]\r\n\xC8\xEDslo portu=4\r\n[PCI-726]\r\nB\xE1zov\xE1 adresa=512\r\n";
    ASSERT_TRUE(Nacti(puvodni));
    data_.Rozhrani = 2;
    data_.Adresa = 9;
    ASSERT_TRUE(UlozNastaveni(&data_));
    EXPECT_EQ(Obsah(), "; nastaveni dilny\r\n[Jine]\r\nklic=hodnota\r\n\r\n" + Pripojeni1250 +
                           "\r\nRozhran\xED=PCI-1726\r\nAdresa=9\r\n; poznamka\r\nRychlost=9600\r\n\r\n"
                           "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=5123\r\n"
                           "[COMx]\r\n\xC8\xEDslo portu=4\r\n[PCI-726]\r\nB\xE1zov\xE1 adresa=512\r\n");
    const TData zpet = Znovu();
    EXPECT_EQ(zpet.CisloPortu, 4);
    EXPECT_EQ(zpet.BazovaAdresa, 512);
    EXPECT_EQ(zpet.UDPPort, 5123);
}

TEST_F(Settings, FileWithLfLineEndsIsReadAndKeepsThem) {
    ASSERT_TRUE(Nacti(Pripojeni1250 + "\nRozhran\xED=COMx\nAdresa=2\n"));
    EXPECT_EQ(data_.Adresa, 2);
    ASSERT_TRUE(UlozNastaveni(&data_));
    EXPECT_EQ(Obsah().find('\r'), std::string::npos);
}

TEST_F(Settings, Utf8FileStaysUtf8AndKeepsWhatItDoesNotOwnByteForByte) {
    // Names no Windows-1250 character can hold, in lines the program does not own.
    const std::string cizi = "; Správce: Ľubomír Ďurčo, Ŵ 山田太郎\r\n[Jiné]\r\nklíč=ŭ €\r\n";
    const std::string skutecny = slozka_ + "/skutecny.ini";
    for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
        for (const bool odkazem : {false, true}) {
            fs::remove(cesta_);
            const std::string soubor = odkazem ? skutecny : cesta_;
            {
                std::ofstream f(soubor, std::ios::binary);
                f << bom << cizi << "[Připojení]\r\nRozhraní=KV-1726\r\nAdresa=12\r\n[KV-1726]\r\nIP adresa=127.0.0.1\r\n";
            }
            if (odkazem) {
                ASSERT_EQ(::symlink(skutecny.c_str(), cesta_.c_str()), 0);
            }
            InicializujData(&data_);
            ASSERT_TRUE(NactiNastaveni(&data_));
            EXPECT_EQ(data_.Rozhrani, 4);
            data_.Adresa = 13;
            ASSERT_TRUE(UlozNastaveni(&data_));
            EXPECT_EQ(Obsah(), bom + cizi +
                                   "[Připojení]\r\nRozhraní=KV-1726\r\nAdresa=13\r\nRychlost=9600\r\n"
                                   "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=5000\r\nUDP timeout=200\r\n")
                << (odkazem ? "through a symbolic link" : "") << (bom.empty() ? "" : " with a byte-order mark");
            EXPECT_EQ(fs::is_symlink(cesta_), odkazem);
        }
    }
}

TEST_F(Settings, AFifoIsNotWaitedForAndNotReplaced) {
    ASSERT_EQ(::mkfifo(cesta_.c_str(), 0600), 0);
    auto nacteni = std::async(std::launch::async, [this] { return NactiNastaveni(&data_); });
    if (nacteni.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ::close(::open(cesta_.c_str(), O_WRONLY | O_NONBLOCK));  // lets the waiting reader go
        FAIL() << "reading the settings waits for a writer to the FIFO";
    }
    EXPECT_FALSE(nacteni.get()) << "the defaults stay";
    std::string chyba;
    EXPECT_FALSE(UlozNastaveni(&data_, &chyba));
    EXPECT_EQ(chyba.rfind("Nelze zapsat soubor nastavení " + cesta_ + ": ", 0), 0u) << chyba;
    EXPECT_TRUE(fs::is_fifo(cesta_)) << "the FIFO is not replaced";
}

TEST_F(Settings, UnwritableFolderGivesAnErrorNamingTheFileAndKeepsTheOldOne) {
    if (::geteuid() == 0) {
        // root writes anywhere: make the target a folder instead, so rename fails.
        fs::create_directory(cesta_);
    } else {
        Zapis("old");
        ::chmod(slozka_.c_str(), 0500);
    }
    std::string chyba;
    EXPECT_FALSE(UlozNastaveni(&data_, &chyba));
    EXPECT_NE(chyba.find(cesta_), std::string::npos) << chyba;
    ::chmod(slozka_.c_str(), 0700);
    for (const auto& e : fs::directory_iterator(slozka_))
        EXPECT_EQ(e.path().string(), cesta_) << "no temporary file may be left behind";
}

TEST_F(Settings, SavedFileKeepsItsPermissions) {
    Zapis(Pripojeni1250 + "\r\nRozhran\xED=COMx\r\n");
    ::chmod(cesta_.c_str(), 0640);
    ASSERT_TRUE(UlozNastaveni(&data_));
    struct stat st {};
    ASSERT_EQ(::stat(cesta_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Settings, QuotationMarksAroundAValueAreDropped) {
    ASSERT_TRUE(Nacti(Pripojeni1250 + "\r\nRozhran\xED=\"KV-1726\"\r\nAdresa='5'\r\n"
                                      "[KV-1726]\r\nIP adresa=\"127.0.0.1\"\r\nUDP port=\"5123\r\n"));
    EXPECT_EQ(data_.Rozhrani, 4);
    EXPECT_EQ(data_.Adresa, 5);
    EXPECT_EQ(data_.IPAdresa, "127.0.0.1");
    EXPECT_EQ(data_.UDPPort, 5000) << "an unmatched mark stays, and the value is no number";
}

TEST_F(Settings, ReadOnlyFileIsNotReplaced) {
    const std::string puvodni = Pripojeni1250 + "\r\nRozhran\xED=COMx\r\nAdresa=3\r\n";
    Zapis(puvodni);
    ::chmod(cesta_.c_str(), 0444);
    data_.Adresa = 8;
    std::string chyba;
    EXPECT_FALSE(UlozNastaveni(&data_, &chyba));
    EXPECT_NE(chyba.find(cesta_), std::string::npos) << chyba;
    EXPECT_EQ(Obsah(), puvodni);
}

TEST_F(Settings, SavingThroughASymbolicLinkUpdatesTheFileItPointsAt) {
    const std::string skutecny = slozka_ + "/skutecny.ini";
    { std::ofstream f(skutecny, std::ios::binary); f << Pripojeni1250 << "\r\nRozhran\xED=COMx\r\n"; }
    ASSERT_EQ(::symlink(skutecny.c_str(), cesta_.c_str()), 0);
    data_.Adresa = 6;
    ASSERT_TRUE(UlozNastaveni(&data_));
    EXPECT_TRUE(fs::is_symlink(cesta_));
    const std::string obsah = kvtest::ReadFile(skutecny);
    EXPECT_NE(obsah.find("Adresa=6\r\n"), std::string::npos) << obsah;
}

TEST_F(Settings, LineEndInsideAValueCannotAddEntries) {
    data_.Rozhrani = 4;
    data_.IPAdresa = "127.0.0.1\r\n[P\xC5\x99ipojen\xC3\xAD]\nRozhran\xC3\xAD=USB-1726";
    ASSERT_TRUE(UlozNastaveni(&data_));
    const TData zpet = Znovu();
    EXPECT_EQ(zpet.Rozhrani, 4);
    EXPECT_EQ(zpet.IPAdresa.find('\n'), std::string::npos);
    EXPECT_EQ(Obsah().find("\n" + Pripojeni1250), std::string::npos) << "a second section was written";
}

TEST(IniFile, NewKeyGoesAfterTheLastEntryOfItsSection) {
    TIniSoubor ini = TIniSoubor::ZBajtu("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    ini.Zapis("a", "z", "3");
    ini.Zapis("C", "w", "4");
    ini.Zapis("b", "Y", "5");
    EXPECT_EQ(ini.Bajty(), "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=5\r\n[C]\r\nw=4\r\n");
}

TEST(IniFile, CommentsAndLinesWithoutEqualsAreNotKeys) {
    const TIniSoubor ini = TIniSoubor::ZBajtu("[A]\n;x=1\nx\n x = 2 \n");
    EXPECT_EQ(ini.Cti("A", "x"), "2");
    EXPECT_EQ(ini.Cti("B", "x"), std::nullopt);
}

}  // namespace
