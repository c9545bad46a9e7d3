// The Debian package as tools/package.sh builds it, made by CPack from this
// build into a temporary folder and listed by dpkg-deb.
#include "Command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using kvtest::RunShell;

TEST(Package, HoldsTheProgramLibrariesEmulatorMenuEntryManualsAndDocuments) {
    char sablona[] = "/tmp/kvpackageXXXXXX";
    ASSERT_NE(::mkdtemp(sablona), nullptr);
    const std::string slozka = sablona;
    const auto [kod, zaznam] = RunShell("cd " + slozka + " && " KV_CPACK " --config " KV_BUILD_DIR "/CPackConfig.cmake -B " +
                                      slozka);
    ASSERT_EQ(kod, 0) << zaznam;
    std::string deb;
    for (const auto& soubor : fs::directory_iterator(slozka))
        if (soubor.path().extension() == ".deb") deb = soubor.path();
    ASSERT_FALSE(deb.empty()) << zaznam;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("r-iv618_1.04_", 0), 0u) << deb;

    const auto [kodSeznamu, seznam] = RunShell("dpkg-deb -c " + deb);
    ASSERT_EQ(kodSeznamu, 0) << seznam;
    for (const char* cast :
         {" ./usr/bin/R_IV618 -> ../lib/r_iv618/R_IV618\n", " ./usr/bin/kv618emu -> ../lib/r_iv618/kv618emu\n",
          " ./usr/lib/r_iv618/R_IV618\n", " ./usr/lib/r_iv618/kv618emu\n", " ./usr/lib/r_iv618/QCOM726.DLL\n",
          " ./usr/lib/r_iv618/QPCI726.DLL\n", " ./usr/lib/r_iv618/QPCI1726.DLL\n", " ./usr/lib/r_iv618/QUSB1726.DLL\n",
          " ./usr/lib/r_iv618/QKV1726.DLL\n", " ./usr/share/applications/r_iv618.desktop\n",
          " ./usr/share/icons/hicolor/scalable/apps/r_iv618.svg\n", " ./usr/share/man/man1/R_IV618.1.gz\n",
          " ./usr/share/man/man1/kv618emu.1.gz\n", " ./usr/share/doc/r-iv618/README.md\n",
          " ./usr/lib/systemd/system/kv618-bridge.service\n", " ./usr/share/man/man1/kv618-bridge.1.gz\n",
          " ./usr/share/doc/r-iv618/docs/bridge.md\n",
          " ./usr/bin/kv618 -> ../lib/r_iv618/kv618\n", " ./usr/lib/r_iv618/kv618\n",
          " ./usr/share/man/man1/kv618.1.gz\n", " ./usr/share/bash-completion/completions/kv618\n"})
        EXPECT_NE(seznam.find(cast), std::string::npos) << cast << "in:\n" << seznam;

    const auto [kodPole, zavislosti] = RunShell("dpkg-deb -f " + deb + " Version Depends");
    ASSERT_EQ(kodPole, 0) << zavislosti;
    EXPECT_NE(zavislosti.find("Version: 1.04\n"), std::string::npos) << zavislosti;
    // Found by dpkg-shlibdeps from the binaries, not written by hand.
    EXPECT_NE(zavislosti.find("libqt6widgets6"), std::string::npos) << zavislosti;
    EXPECT_NE(zavislosti.find("libstdc++6"), std::string::npos) << zavislosti;
    EXPECT_NE(zavislosti.find("qt6-qpa-plugins"), std::string::npos) << zavislosti;
    EXPECT_NE(zavislosti.find("libmosquitto1"), std::string::npos) << zavislosti;
    fs::remove_all(slozka);
}

}  // namespace
