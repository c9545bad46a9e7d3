// Where the settings file lives: beside a program whose folder it may write
// to, else in the user's settings folder, which the first save creates.
#include "Dekl.h"
#include "Places.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

#include "TestFiles.h"

namespace {

using TPromenna = kvtest::ScopedEnv;

class SettingsPlace : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(slozka_.empty()); }
    void TearDown() override { NastavCestuNastaveni(""); }
    // Saving a fresh record to `cesta` fails; what it says.
    static std::string ChybaUlozeni(const std::string& cesta) {
        NastavCestuNastaveni(cesta);
        TData data;
        InicializujData(&data);
        std::string chyba;
        EXPECT_FALSE(UlozNastaveni(&data, &chyba));
        return chyba;
    }
    const kvtest::TemporaryFolder docasna_{"kvplace"};
    const std::string slozka_ = docasna_.path();
};

TEST_F(SettingsPlace, UserFolderFollowsXdgConfigHomeElseHome) {
    TPromenna home("HOME", slozka_.c_str());
    {
        TPromenna xdg("XDG_CONFIG_HOME", (slozka_ + "/cfg").c_str());
        EXPECT_EQ(files::UserSettingsFolder(), slozka_ + "/cfg/r_iv618");
    }
    {
        TPromenna xdg("XDG_CONFIG_HOME", "relative/cfg");
        EXPECT_EQ(files::UserSettingsFolder(), slozka_ + "/.config/r_iv618") << "a relative path is ignored";
    }
    TPromenna xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(files::UserSettingsFolder(), slozka_ + "/.config/r_iv618");
}

TEST_F(SettingsPlace, WritableProgramFolderKeepsTheFileBesideTheProgram) {
    // The test executable's folder is a build tree the tests may write to.
    ASSERT_EQ(::access(SlozkaProgramu().c_str(), W_OK), 0);
    EXPECT_EQ(CestaNastaveni(), SlozkaProgramu() + "/R_iv618.ini");
    NastavCestuNastaveni(slozka_ + "/jinde.ini");
    EXPECT_EQ(CestaNastaveni(), slozka_ + "/jinde.ini") << "a path given by hand wins";
}

TEST_F(SettingsPlace, FirstSaveCreatesThePrivateUserFolderAndWritesTheSameBytes) {
    TPromenna xdg("XDG_CONFIG_HOME", (slozka_ + "/home/.config").c_str());
    const std::string cesta = files::UserSettingsFolder() + "/R_iv618.ini";
    NastavCestuNastaveni(cesta);
    TData data;
    InicializujData(&data);
    data.Rozhrani = RozhraniPCI726;
    std::string chyba;
    ASSERT_TRUE(UlozNastaveni(&data, &chyba)) << chyba;

    struct stat st {};
    ASSERT_EQ(::stat(files::UserSettingsFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((slozka_ + "/home/.config").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(kvtest::ReadFile(cesta), "[P\xF8ipojen\xED]\r\nRozhran\xED=PCI-726\r\nAdresa=0\r\nRychlost=9600\r\n"
                            "[PCI-726]\r\nB\xE1zov\xE1 adresa=768\r\n");

    TData znovu;
    InicializujData(&znovu);
    ASSERT_TRUE(NactiNastaveni(&znovu));
    EXPECT_EQ(znovu.Rozhrani, RozhraniPCI726);
}

TEST_F(SettingsPlace, AFolderGivenByHandIsNeverCreated) {
    const std::string cesta = slozka_ + "/chybi/R_iv618.ini";
    const std::string chyba = ChybaUlozeni(cesta);
    EXPECT_NE(chyba.find(cesta), std::string::npos) << chyba;
    EXPECT_FALSE(fs::exists(slozka_ + "/chybi"));
}

TEST_F(SettingsPlace, UserFolderThatCannotBeCreatedIsReportedWithTheFile) {
    // A plain file stands where the folder should be.
    std::ofstream(slozka_ + "/soubor") << "x";
    TPromenna xdg("XDG_CONFIG_HOME", (slozka_ + "/soubor").c_str());
    const std::string cesta = files::UserSettingsFolder() + "/R_iv618.ini";
    const std::string chyba = ChybaUlozeni(cesta);
    EXPECT_NE(chyba.find(cesta), std::string::npos) << chyba;
}

}  // namespace
