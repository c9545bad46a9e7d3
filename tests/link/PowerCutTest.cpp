// The saving program killed at random points: the settings file is always
// one whole version, never a mix or a truncated one.
#include "Dekl.h"
#include "IniSoubor.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Obsah(const std::string& cesta) {
    std::ifstream f(cesta, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Verze(const std::string& slozka, int kolo) {
    const std::string cesta = slozka + "/vzor" + std::to_string(kolo) + ".ini";
    NastavCestuNastaveni(cesta);
    TData data;
    InicializujData(&data);
    data.Rozhrani = RozhraniKV1726;
    data.Adresa = static_cast<uint8_t>(kolo % 2 ? 2 : 1);
    data.IPAdresa = std::string(kolo % 2 ? 3000 : 2000, kolo % 2 ? 'b' : 'a');
    UlozNastaveni(&data);
    NastavCestuNastaveni("");
    return Obsah(cesta);
}

TEST(PowerCut, SettingsFileIsAlwaysOneWholeVersion) {
    char sablona[] = "/tmp/kvpowercutXXXXXX";
    ASSERT_NE(::mkdtemp(sablona), nullptr);
    const std::string slozka = sablona;
    const std::string cesta = slozka + "/R_iv618.ini";
    const std::string a = Verze(slozka, 0), b = Verze(slozka, 1);
    const std::string saver = SlozkaProgramu() + "/settings_saver";

    std::mt19937 nahoda(12345);
    for (int pokus = 0; pokus < 40; ++pokus) {
        int roura[2];
        ASSERT_EQ(::pipe(roura), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(roura[1], 1);
            ::execl(saver.c_str(), saver.c_str(), cesta.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(roura[1]);
        char c;
        ASSERT_EQ(::read(roura[0], &c, 1), 1) << "the saver did not start";
        ::close(roura[0]);
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(nahoda));
        ::kill(pid, SIGKILL);
        int stav = 0;
        ::waitpid(pid, &stav, 0);

        const std::string ted = Obsah(cesta);
        EXPECT_TRUE(ted == a || ted == b) << "attempt " << pokus << ": " << ted.size() << " bytes";
    }
    std::filesystem::remove_all(slozka);
}

}  // namespace
