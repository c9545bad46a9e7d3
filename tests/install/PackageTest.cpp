// The Debian package as tools/package.sh builds it, made by CPack from this
// build into a temporary folder and listed by dpkg-deb.
#include "Command.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

using kvtest::RunShell;

// Every one of `parts` stands in `text`; a missing one is named with the text.
void ExpectHolds(const std::string& text, std::initializer_list<const char*> parts) {
    for (const char* part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << "in:\n" << text;
}

// The package made by CPack from this build in a temporary folder, removed
// with the object.
class Package : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(slozka_.empty());
        const auto [kod, zaznam] = RunShell("cd " + slozka_ + " && " KV_CPACK " --config " KV_BUILD_DIR
                                          "/CPackConfig.cmake -B " + slozka_);
        ASSERT_EQ(kod, 0) << zaznam;
        for (const auto& soubor : fs::directory_iterator(slozka_))
            if (soubor.path().extension() == ".deb") deb_ = soubor.path();
        ASSERT_FALSE(deb_.empty()) << zaznam;
    }
    bool Je(const std::string& prikaz) { return RunShell("command -v " + prikaz).first == 0; }

    kvtest::TemporaryFolder docasna_{"kvpackage"};
    const std::string& slozka_ = docasna_.path();
    std::string deb_;
};

TEST_F(Package, HoldsTheProgramLibrariesEmulatorMenuEntryManualsAndDocuments) {
    const std::string& deb = deb_;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("r-iv618_1.04-1_", 0), 0u) << deb;

    const auto [kodSeznamu, seznam] = RunShell("dpkg-deb -c " + deb);
    ASSERT_EQ(kodSeznamu, 0) << seznam;
    ExpectHolds(seznam,
                {" ./usr/bin/R_IV618 -> ../lib/r_iv618/R_IV618\n", " ./usr/bin/kv618emu -> ../lib/r_iv618/kv618emu\n",
                 " ./usr/lib/r_iv618/R_IV618\n", " ./usr/lib/r_iv618/kv618emu\n", " ./usr/lib/r_iv618/QCOM726.DLL\n",
                 " ./usr/lib/r_iv618/QPCI726.DLL\n", " ./usr/lib/r_iv618/QPCI1726.DLL\n",
                 " ./usr/lib/r_iv618/QUSB1726.DLL\n",
                 " ./usr/lib/r_iv618/QKV1726.DLL\n", " ./usr/share/applications/r_iv618.desktop\n",
                 " ./usr/share/icons/hicolor/scalable/apps/r_iv618.svg\n", " ./usr/share/man/man1/R_IV618.1.gz\n",
                 " ./usr/share/man/cs/man1/R_IV618.1.gz\n",
                 " ./usr/share/man/man1/kv618emu.1.gz\n", " ./usr/share/doc/r-iv618/README.md\n",
                 " ./usr/lib/systemd/system/kv618-bridge.service\n", " ./usr/share/man/man1/kv618-bridge.1.gz\n",
                 " ./usr/share/doc/r-iv618/docs/bridge.md\n",
                 " ./usr/bin/kv618 -> ../lib/r_iv618/kv618\n", " ./usr/lib/r_iv618/kv618\n",
                 " ./usr/share/man/man1/kv618.1.gz\n", " ./usr/share/bash-completion/completions/kv618\n",
                 " ./usr/share/doc/r-iv618/copyright\n", " ./usr/share/doc/r-iv618/changelog.Debian.gz\n",
                 " ./usr/share/doc/r-iv618/examples/bridge.conf\n",
                 " ./usr/share/doc/r-iv618/examples/kv618-bridge.acl\n",
                 " ./usr/share/doc/r-iv618/examples/modbus-map.csv\n", " ./usr/share/doc/r-iv618/docs/modbus.md\n",
                 " ./usr/lib/sysusers.d/kv618-bridge.conf\n"});

    const auto [kodPole, zavislosti] = RunShell("dpkg-deb -f " + deb + " Version Depends Suggests");
    ASSERT_EQ(kodPole, 0) << zavislosti;
    ExpectHolds(zavislosti, {"Version: 1.04-1\n", "Suggests: mosquitto, mosquitto-clients\n"});
    // Found by dpkg-shlibdeps from the binaries, not written by hand.
    ExpectHolds(zavislosti, {"libqt6widgets6", "libstdc++6", "qt6-qpa-plugins", "libmosquitto1", "libmodbus5"});
}

// Debian's own check of a package.  This build lacks the hardening flags
// tools/package.sh adds; lintian reports their absence only as information.
TEST_F(Package, LintianFindsNoErrorOrWarning) {
    if (!Je("lintian")) GTEST_SKIP() << "lintian is not installed";
    const auto [kod, zprava] = RunShell("lintian --fail-on error,warning " + deb_);
    EXPECT_EQ(kod, 0) << zprava;
    EXPECT_EQ(zprava.find("\nE: "), std::string::npos) << zprava;
    EXPECT_EQ(zprava.find("\nW: "), std::string::npos) << zprava;
}

// The bridge's service as systemd rates its sandbox: 3.0 or lower is what an
// operator may expose on a plant network; the one folder it writes is its state.
TEST_F(Package, TheBridgeServiceRunsSandboxedAsItsOwnUser) {
    ASSERT_EQ(RunShell("dpkg-deb -x " + deb_ + " " + slozka_ + "/root").first, 0);
    const std::string jednotka = slozka_ + "/root/usr/lib/systemd/system/kv618-bridge.service";
    std::ifstream soubor(jednotka);
    const std::string text((std::istreambuf_iterator<char>(soubor)), std::istreambuf_iterator<char>());
    ExpectHolds(text, {"\nUser=kv618-bridge\n", "\nSupplementaryGroups=dialout\n",
                       // Modbus TCP's port 502 without root, and no other capability.
                       "\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n", "\nCapabilityBoundingSet=CAP_NET_BIND_SERVICE\n",
                       "/kv618 bridge --config /etc/kv618/bridge.conf\n",
                       // Its state (the Sparkplug node's bdSeq) outlives a restart in /var/lib/kv618-bridge.
                       "\nStateDirectory=kv618-bridge\n"});

    if (!Je("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not installed";
    const auto [kod, hodnoceni] = RunShell("systemd-analyze security --offline=yes " + jednotka);
    ASSERT_EQ(kod, 0) << hodnoceni;
    const std::string uvod = "Overall exposure level for kv618-bridge.service: ";
    const size_t kde = hodnoceni.find(uvod);
    ASSERT_NE(kde, std::string::npos) << hodnoceni;
    const double miraVystaveni = std::stod(hodnoceni.substr(kde + uvod.size()));
    EXPECT_LE(miraVystaveni, 3.0) << hodnoceni;
}

}  // namespace
