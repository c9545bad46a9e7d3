// `cmake --install` into a temporary DESTDIR, and the installed program,
// libraries and emulator run from there: the parts are where an operator's
// system looks for them, the program finds its libraries through the command
// on the PATH, and the settings go where the user may write.
#include "Dekl.h"
#include "Interfaces.h"
#include "Qxxx726.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The user the installed program runs as when the test runs as root: an
// operator who may not write to the program's folder.
constexpr uid_t Nikdo = 65534;

struct TVysledek {
    int kod = -1;  // exit code; -1 when killed or not started
    std::string vystup;  // stdout and stderr together
};

struct TSpusteni {
    std::vector<std::string> argv;
    std::vector<std::string> env;
    bool jakoNikdo = false;
    int limitSekund = 30;
};

// Runs a program with exactly the given environment and waits for it,
// killing it after the time limit.
TVysledek Spust(const TSpusteni& s) {
    int roura[2];
    if (::pipe2(roura, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(roura[1], STDOUT_FILENO);
        ::dup2(roura[1], STDERR_FILENO);
        const int nic = ::open("/dev/null", O_RDONLY);
        if (nic >= 0) ::dup2(nic, STDIN_FILENO);
        // The build folder may lie where another user cannot go (a clone under /root).
        if (::chdir("/") != 0) ::_exit(126);
        if (s.jakoNikdo && (::setgroups(0, nullptr) != 0 || ::setgid(Nikdo) != 0 || ::setuid(Nikdo) != 0)) {
            std::perror("dropping to an unprivileged user");
            ::_exit(126);
        }
        std::vector<char*> argv, env;
        for (const auto& a : s.argv) argv.push_back(const_cast<char*>(a.c_str()));
        for (const auto& e : s.env) env.push_back(const_cast<char*>(e.c_str()));
        argv.push_back(nullptr);
        env.push_back(nullptr);
        ::execve(argv[0], argv.data(), env.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    ::close(roura[1]);
    TVysledek v;
    const auto konec = std::chrono::steady_clock::now() + std::chrono::seconds(s.limitSekund);
    for (;;) {
        const auto zbyva = std::chrono::duration_cast<std::chrono::milliseconds>(konec - std::chrono::steady_clock::now());
        pollfd p{roura[0], POLLIN, 0};
        if (zbyva.count() <= 0 || ::poll(&p, 1, static_cast<int>(zbyva.count())) <= 0) {
            ::kill(pid, SIGKILL);
            v.vystup += "\n[killed after " + std::to_string(s.limitSekund) + " s]";
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(roura[0], buffer, sizeof buffer);
        if (n <= 0) break;
        v.vystup.append(buffer, static_cast<size_t>(n));
    }
    ::close(roura[0]);
    int stav = 0;
    ::waitpid(pid, &stav, 0);
    if (WIFEXITED(stav)) v.kod = WEXITSTATUS(stav);
    return v;
}

std::string Obsah(const std::string& cesta) {
    std::ifstream f(cesta, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The settings file of a first run with the defaults, in Windows-1250.
const std::string VychoziNastaveni =
    "[P\xF8ipojen\xED]\r\nRozhran\xED=COMx\r\nAdresa=0\r\nRychlost=9600\r\n[COMx]\r\n\xC8\xEDslo portu=1\r\n";

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        char sablona[] = "/tmp/kvinstallXXXXXX";
        ASSERT_NE(::mkdtemp(sablona), nullptr);
        koren_ = sablona;
        // Another user must reach the installed files, as under /usr.
        ASSERT_EQ(::chmod(koren_.c_str(), 0755), 0);
        destdir_ = koren_ + "/root";
        const TVysledek instalace = Spust({{KV_CMAKE, "--install", KV_BUILD_DIR, "--prefix", "/usr"},
                                          {"DESTDIR=" + destdir_, "PATH=/usr/bin:/bin"}});
        ASSERT_EQ(instalace.kod, 0) << instalace.vystup;
        usr_ = destdir_ + "/usr";
        soukroma_ = usr_ + "/lib/r_iv618";
    }
    void TearDown() override {
        NastavSlozkuKnihoven("");
        ::chmod(soukroma_.c_str(), 0755);
        fs::remove_all(koren_);
    }

    // A home of its own for a run of the program, owned by whoever runs it.
    std::string Domov(const std::string& jmeno, bool proNikoho) {
        const std::string domov = koren_ + "/" + jmeno;
        fs::create_directories(domov + "/runtime");
        ::chmod((domov + "/runtime").c_str(), 0700);
        if (proNikoho) {
            for (const auto& cesta : {domov, domov + "/runtime"}) EXPECT_EQ(::chown(cesta.c_str(), Nikdo, Nikdo), 0);
        }
        return domov;
    }

    // The installed program through its command on the PATH, offscreen,
    // closing itself as soon as its window is up.
    TVysledek SpustProgram(const std::string& domov, bool jakoNikdo, std::vector<std::string> argumenty = {}) {
        TSpusteni s;
        s.argv = {usr_ + "/bin/R_IV618"};
        s.argv.insert(s.argv.end(), argumenty.begin(), argumenty.end());
        s.env = {"PATH=" + usr_ + "/bin:/usr/bin:/bin", "HOME=" + domov, "XDG_CONFIG_HOME=" + domov + "/.config",
                 "XDG_RUNTIME_DIR=" + domov + "/runtime", "QT_QPA_PLATFORM=offscreen", "R_IV618_QUIT_WHEN_SHOWN=1"};
        s.jakoNikdo = jakoNikdo;
        return Spust(s);
    }

    std::string koren_, destdir_, usr_, soukroma_;
};

TEST_F(Installed, EveryPartIsWhereTheSystemLooksForIt) {
    for (const char* prikaz : {"R_IV618", "kv618emu", "kv618"}) {
        const fs::path odkaz = usr_ + "/bin/" + prikaz;
        ASSERT_TRUE(fs::is_symlink(odkaz)) << prikaz << " is a command pointing into the private folder";
        EXPECT_EQ(fs::read_symlink(odkaz), fs::path("../lib/r_iv618") / prikaz);
        EXPECT_TRUE(fs::is_regular_file(soukroma_ + "/" + prikaz));
        EXPECT_EQ(::access((soukroma_ + "/" + prikaz).c_str(), X_OK), 0);
    }
    for (const auto& rozhrani : kv618::Interfaces)
        EXPECT_TRUE(fs::is_regular_file(soukroma_ + "/" + rozhrani.libraryFile)) << rozhrani.libraryFile;
    for (const char* soubor :
         {"share/applications/r_iv618.desktop", "share/icons/hicolor/scalable/apps/r_iv618.svg",
          "share/man/man1/R_IV618.1.gz", "share/man/cs/man1/R_IV618.1.gz", "share/man/man1/kv618emu.1.gz",
          "share/bash-completion/completions/R_IV618", "share/bash-completion/completions/kv618emu",
          "share/man/man1/kv618.1.gz",
          "share/bash-completion/completions/kv618", "share/doc/r-iv618/README.md",
          "share/doc/r-iv618/docs/emulator.md"})
        EXPECT_TRUE(fs::is_regular_file(usr_ + "/" + soubor)) << soubor;
    const std::string polozka = Obsah(usr_ + "/share/applications/r_iv618.desktop");
    EXPECT_NE(polozka.find("\nExec=R_IV618\n"), std::string::npos) << "the command on the PATH";
    EXPECT_NE(polozka.find("\nIcon=r_iv618\n"), std::string::npos);
}

TEST_F(Installed, TheCommandOnThePathFindsTheLibrariesBesideTheProgram) {
    const TVysledek verze = Spust({{usr_ + "/bin/R_IV618", "--version"}, {"PATH=/usr/bin:/bin", "HOME=" + koren_}});
    ASSERT_EQ(verze.kod, 0) << verze.vystup;
    EXPECT_EQ(verze.vystup.rfind("R_IV618 1.04\n", 0), 0u) << verze.vystup;
    for (const auto& rozhrani : kv618::Interfaces) {
        const std::string jmeno = rozhrani.libraryFile;
        const std::string radek = "  " + jmeno + std::string(14 - jmeno.size(), ' ') + "1.04  " + soukroma_ + "/" + jmeno;
        EXPECT_NE(verze.vystup.find(radek + "\n"), std::string::npos) << radek << "\nin:\n" << verze.vystup;
    }
}

TEST_F(Installed, TheInstalledLibrariesReachTheInstalledEmulator) {
    int roura[2];
    ASSERT_EQ(::pipe2(roura, O_CLOEXEC), 0);
    const pid_t emulator = ::fork();
    if (emulator == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(roura[1], STDOUT_FILENO);
        const std::string program = usr_ + "/bin/kv618emu";
        const std::string karty = koren_ + "/cards";
        ::execl(program.c_str(), program.c_str(), "--udp", "127.0.0.1:0", "--cards", karty.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(roura[1]);
    std::string pripraven;
    char znak;
    pollfd p{roura[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(roura[0], &znak, 1) == 1 && znak != '\n') pripraven += znak;
    ::close(roura[0]);
    ASSERT_EQ(pripraven.rfind("READY udp=127.0.0.1:", 0), 0u) << pripraven;
    const std::string port = pripraven.substr(20, pripraven.find(' ', 20) - 20);

    NastavSlozkuKnihoven(soukroma_);
    int32_t handle = 0;
    TInitParametry blok{};
    const std::string ip = "127.0.0.1";
    blok[0] = reinterpret_cast<intptr_t>(ip.c_str());
    blok[1] = std::stoi(port);
    blok[2] = 500;
    EXPECT_EQ(InitRozhrani(RozhraniKV1726, &handle, blok), 0);
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, chyba = 0xEE;
    TOdpoved odpoved{};
    PrenosDat(RozhraniKV1726, handle, 1, 0xC8, 0, d0, d1, d2, d3, d4, chyba, odpoved);
    EXPECT_EQ(chyba, 0);
    EXPECT_EQ(std::string({char(d1), char(d2), char(d3), char(d4)}), "KV-6");
    EXPECT_EQ(UkonciRozhrani(RozhraniKV1726, &handle), 0);

    ::kill(emulator, SIGTERM);
    int stav = 0;
    ::waitpid(emulator, &stav, 0);
    EXPECT_TRUE(WIFEXITED(stav) && WEXITSTATUS(stav) == 0);
}

// An operator who may not write to the program's folder keeps the settings
// in their own configuration folder, created by the first save.
TEST_F(Installed, AnOperatorWhoMayNotWriteTheProgramsFolderKeepsTheSettingsInTheirConfigFolder) {
    const bool root = ::geteuid() == 0;
    // The superuser may write anywhere: the operator is then another user.
    if (!root) {
        ASSERT_EQ(::chmod(soukroma_.c_str(), 0555), 0);
    }
    const std::string domov = Domov("operator", root);
    const std::string nastaveni = domov + "/.config/r_iv618/R_iv618.ini";

    const TVysledek prvni = SpustProgram(domov, root);
    ASSERT_EQ(prvni.kod, 0) << prvni.vystup;
    EXPECT_EQ(Obsah(nastaveni), VychoziNastaveni) << prvni.vystup;
    struct stat st {};
    ASSERT_EQ(::stat((domov + "/.config/r_iv618").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, root ? Nikdo : ::geteuid()) << "made by the operator's own run";
    EXPECT_FALSE(fs::exists(soukroma_ + "/R_iv618.ini"));

    // What is there is read at start and written back as it was.
    const std::string lan = "[P\xF8ipojen\xED]\r\nRozhran\xED=KV-1726\r\nAdresa=3\r\nRychlost=19200\r\n"
                            "[KV-1726]\r\nIP adresa=127.0.0.1\r\nUDP port=5123\r\nUDP timeout=200\r\n";
    std::ofstream(nastaveni, std::ios::binary | std::ios::trunc) << lan;
    const TVysledek druhy = SpustProgram(domov, root);
    ASSERT_EQ(druhy.kod, 0) << druhy.vystup;
    EXPECT_EQ(Obsah(nastaveni), lan);
}

TEST_F(Installed, AProgramFolderItsUserMayWriteKeepsTheSettingsBesideTheProgram) {
    const std::string domov = Domov("owner", false);
    const TVysledek beh = SpustProgram(domov, false);
    ASSERT_EQ(beh.kod, 0) << beh.vystup;
    EXPECT_EQ(Obsah(soukroma_ + "/R_iv618.ini"), VychoziNastaveni) << beh.vystup;
    EXPECT_FALSE(fs::exists(domov + "/.config/r_iv618"));
}

TEST_F(Installed, SettingsGivenOnTheCommandLineAreTheOnesReadAndWritten) {
    const std::string domov = Domov("chosen", false);
    const std::string soubor = koren_ + "/elsewhere.ini";
    const TVysledek beh = SpustProgram(domov, false, {"--settings", soubor});
    ASSERT_EQ(beh.kod, 0) << beh.vystup;
    EXPECT_EQ(Obsah(soubor), VychoziNastaveni) << beh.vystup;
    EXPECT_FALSE(fs::exists(soukroma_ + "/R_iv618.ini"));
    EXPECT_FALSE(fs::exists(domov + "/.config/r_iv618"));

    const TVysledek chyba = SpustProgram(domov, false, {"--no-such-option"});
    EXPECT_EQ(chyba.kod, 2);
    EXPECT_NE(chyba.vystup.find("no-such-option"), std::string::npos) << chyba.vystup;
}

// kv618 maps a COM port where the installed serial library reads it: in the
// user's configuration folder when the program's folder may not be written.
// COM3 mapped to /dev/null is opened and found to be no serial port; unmapped
// it would be /dev/ttyS2.
TEST_F(Installed, APortMappedByAnOperatorWhoMayNotWriteTheProgramsFolderIsTheOneTheLibraryOpens) {
    const bool root = ::geteuid() == 0;
    if (!root) {
        ASSERT_EQ(::chmod(soukroma_.c_str(), 0555), 0);
    }
    const std::string domov = Domov("mapper", root);
    const auto kv618 = [&](std::vector<std::string> argumenty) {
        TSpusteni s;
        s.argv = {usr_ + "/bin/kv618"};
        s.argv.insert(s.argv.end(), argumenty.begin(), argumenty.end());
        s.env = {"PATH=" + usr_ + "/bin:/usr/bin:/bin", "HOME=" + domov, "XDG_CONFIG_HOME=" + domov + "/.config",
                 "XDG_STATE_HOME=" + domov + "/.local/state"};
        s.jakoNikdo = root;
        return Spust(s);
    };
    const TVysledek mapa = kv618({"ports", "map", "3", "/dev/null"});
    ASSERT_EQ(mapa.kod, 0) << mapa.vystup;
    EXPECT_EQ(Obsah(domov + "/.config/r_iv618/QCOM726.ini"), "COM3=/dev/null\n") << mapa.vystup;
    EXPECT_FALSE(fs::exists(soukroma_ + "/QCOM726.ini"));

    const TVysledek spojeni = kv618({"--interface", "com", "--port", "3", "identify"});
    EXPECT_EQ(spojeni.kod, 1);
    EXPECT_NE(spojeni.vystup.find("Zařízení není sériový port"), std::string::npos) << spojeni.vystup;
}

// kv618 bridge is a plug-in beside the installed kv618, found through the
// command on the PATH; the tool itself does not load the MQTT library.
TEST_F(Installed, TheCommandOnThePathLoadsTheBridgeOnlyForTheBridge) {
    if (!std::filesystem::exists(usr_ + "/lib/r_iv618/kv618-bridge.so")) GTEST_SKIP() << "built without the bridge";
    const std::string conf = koren_ + "/bridge.conf";
    std::ofstream(conf) << "not a key\n";
    const TVysledek most = Spust({{usr_ + "/bin/kv618", "bridge", "--config", conf}, {"PATH=/usr/bin:/bin", "HOME=" + koren_}});
    EXPECT_EQ(most.kod, 78) << most.vystup;
    EXPECT_NE(most.vystup.find("bridge.conf:1"), std::string::npos) << most.vystup;
    const TVysledek knihovny =
        Spust({{usr_ + "/bin/kv618", "--version"}, {"PATH=/usr/bin:/bin", "LD_TRACE_LOADED_OBJECTS=1"}});
    EXPECT_EQ(knihovny.vystup.find("mosquitto"), std::string::npos) << knihovny.vystup;
}

// The program reads its whole command line before it needs a display: a
// wrong option is status 2 with the usage, whether a display is there or not.
TEST(CommandLine, AWrongOptionIsUsageWithOrWithoutADisplay) {
    const std::string program = KV_BUILD_DIR "/bin/R_IV618";
    const std::vector<std::string> bezDispleje = {"PATH=/usr/bin:/bin", "HOME=/nonexistent"};
    std::vector<std::string> offscreen = bezDispleje;
    offscreen.push_back("QT_QPA_PLATFORM=offscreen");
    for (const auto& prostredi : {bezDispleje, offscreen}) {
        const std::string kde = prostredi.size() == bezDispleje.size() ? "without a display" : "offscreen";
        for (const std::vector<std::string>& chybne :
             {std::vector<std::string>{"--no-such-option"}, {"stray-argument"}, {"--settings"}}) {
            std::vector<std::string> argv = {program};
            argv.insert(argv.end(), chybne.begin(), chybne.end());
            const TVysledek beh = Spust({argv, prostredi});
            EXPECT_EQ(beh.kod, 2) << kde << " " << chybne[0] << ":\n" << beh.vystup;
            EXPECT_NE(beh.vystup.find("Usage: "), std::string::npos) << kde << ":\n" << beh.vystup;
            EXPECT_NE(beh.vystup.find("--settings <FILE>"), std::string::npos) << beh.vystup;
            EXPECT_EQ(beh.vystup.find("-platform"), std::string::npos) << "Qt's options stay out of the usage";
        }
    }
    // Qt's own options pass the first reading and reach Qt.
    const TVysledek verze = Spust({{program, "-platform", "offscreen", "--version"}, bezDispleje});
    EXPECT_EQ(verze.kod, 0) << verze.vystup;
    EXPECT_EQ(verze.vystup.rfind("R_IV618 1.04\n", 0), 0u) << verze.vystup;
}

// Every option kv618emu's usage names is in its manual pages, English and
// Czech, and in its bash completion.
TEST(Documentation, EveryEmulatorOptionIsInItsManualPagesAndCompletion) {
    const TVysledek napoveda = Spust({{KV_BUILD_DIR "/bin/kv618emu", "--help"}, {"PATH=/usr/bin:/bin"}});
    ASSERT_EQ(napoveda.kod, 0) << napoveda.vystup;
    const std::string doplneni = Obsah(KV_SOURCE_DIR "/packaging/completions/kv618emu");
    ASSERT_FALSE(doplneni.empty());
    std::set<std::string> volby;
    for (size_t i = napoveda.vystup.find("--"); i != std::string::npos; i = napoveda.vystup.find("--", i + 2)) {
        size_t konec = i + 2;
        while (konec < napoveda.vystup.size() && (std::islower(static_cast<unsigned char>(napoveda.vystup[konec])) ||
                                                 napoveda.vystup[konec] == '-'))
            ++konec;
        if (konec > i + 2) volby.insert(napoveda.vystup.substr(i, konec - i));
    }
    ASSERT_GE(volby.size(), 15u) << napoveda.vystup;
    // A page's options are the lines after .TP; "\-\-pty" must not be
    // found inside "\-\-pty\-link".
    const auto polozkyStranky = [](const std::string& soubor) {
        const std::string stranka = Obsah(KV_SOURCE_DIR "/packaging/man/" + soubor);
        std::string polozky;
        for (size_t i = stranka.find(".TP\n"); i != std::string::npos; i = stranka.find(".TP\n", i + 4))
            polozky += stranka.substr(i + 4, stranka.find('\n', i + 4) - i - 4) + "\n";
        return polozky;
    };
    const std::string anglicke = polozkyStranky("kv618emu.1"), ceske = polozkyStranky("cs/kv618emu.1");
    ASSERT_FALSE(anglicke.empty());
    ASSERT_FALSE(ceske.empty());
    const auto obsahuje = [](const std::string& text, const std::string& slovo) {
        for (size_t i = text.find(slovo); i != std::string::npos; i = text.find(slovo, i + 1)) {
            const char dalsi = i + slovo.size() < text.size() ? text[i + slovo.size()] : ' ';
            if (!std::islower(static_cast<unsigned char>(dalsi)) && dalsi != '-' && dalsi != '\\') return true;
        }
        return false;
    };
    for (const std::string& volba : volby) {
        std::string roff;
        for (const char znak : volba) roff += znak == '-' ? std::string("\\-") : std::string(1, znak);
        EXPECT_TRUE(obsahuje(anglicke, roff)) << volba << " as an item of packaging/man/kv618emu.1";
        EXPECT_TRUE(obsahuje(ceske, roff)) << volba << " as an item of packaging/man/cs/kv618emu.1";
        EXPECT_TRUE(obsahuje(doplneni, volba)) << volba << " in packaging/completions/kv618emu";
    }
}

}  // namespace
