#include "Ini.h"
#include "Kodovani.h"
#include "PortDevice.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using files::IniLine;

TEST(Ini, LinesKnowTheirKindAndNumber) {
    const files::IniText ini("; note\r\n[Připojení] ; after\r\n  Adresa = 5 \r\n\r\nno equals\r\n#x=1\n[open");
    const auto& l = ini.Lines();
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0].kind, IniLine::Comment);
    EXPECT_EQ(l[1].kind, IniLine::Section);
    EXPECT_EQ(l[1].name, "Připojení");
    EXPECT_EQ(l[2].kind, IniLine::Entry);
    EXPECT_EQ(l[2].key, "Adresa");
    EXPECT_EQ(l[2].value, "5");
    EXPECT_EQ(l[2].number, 3);
    EXPECT_EQ(l[3].kind, IniLine::Blank);
    EXPECT_EQ(l[4].kind, IniLine::Other);
    EXPECT_EQ(l[4].number, 5);
    EXPECT_EQ(l[5].kind, IniLine::Comment);
    EXPECT_EQ(l[6].kind, IniLine::Other) << "a bracket without its end is no section";
}

TEST(Ini, Utf8WithOrWithoutAByteOrderMarkAndWindows1250ReadAlike) {
    const std::string utf8 = "[Připojení]\nRozhraní=KV-1726\n";
    for (const std::string& bytes : {utf8, "\xEF\xBB\xBF" + utf8, Kodovani::Utf8NaCp1250(utf8)}) {
        const files::IniText ini(bytes);
        ASSERT_EQ(ini.LineCount(), 2);
        EXPECT_EQ(ini.Lines()[0].name, "Připojení");
        EXPECT_EQ(ini.FirstValue("ROZHRANÍ"), "KV-1726") << "names compare without case, Czech letters too";
    }
    EXPECT_TRUE(files::EncodingOf("\xEF\xBB\xBF" "a").bom);
    EXPECT_FALSE(files::EncodingOf(Kodovani::Utf8NaCp1250(utf8)).utf8);
}

TEST(Ini, TrimTakesEveryBlankAtBothEnds) {
    EXPECT_EQ(files::Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(files::Trim(" \t"), "");
}

TEST(Ini, ReadIniRefusesAFileOverTheCap) {
    files::IniText ini;
    EXPECT_EQ(files::ReadIni("/dev/zero", ini, files::Kinds::Any).kind, files::Failure::TooLarge);
    EXPECT_EQ(ini.LineCount(), 0);
}

TEST(PortMap, VariableThenTheFirstMapFileThenTheDefault) {
    const kvtest::TemporaryFolder temporary("kvports");
    const std::string folder = temporary.path(), user = folder + "/user.ini", library = folder + "/library.ini";
    ASSERT_FALSE(files::Replace(user, "; mine\n[porty]\ncom2 = /dev/ttyUSB0\n").failed());
    ASSERT_FALSE(files::Replace(library, "COM2=/dev/ttyACM9\nCOM3=/dev/ttyACM3\n").failed());
    const kvtest::ScopedEnv none("QCOM726_COM2", nullptr);
    EXPECT_EQ(files::DeviceOfPort(2, {user, library}).device, "/dev/ttyUSB0");
    EXPECT_EQ(files::DeviceOfPort(2, {user, library}).file, user);
    EXPECT_EQ(files::DeviceOfPort(3, {user, library}).device, "/dev/ttyACM3");
    EXPECT_EQ(files::DeviceOfPort(4, {user, library}).device, "/dev/ttyS3");
    EXPECT_EQ(files::DeviceOfPort(4, {user, library}).source, files::PortDevice::Default);
    {
        const kvtest::ScopedEnv variable("QCOM726_COM2", "/dev/pts/7");
        EXPECT_EQ(files::DeviceOfPort(2, {user, library}).device, "/dev/pts/7");
        EXPECT_EQ(files::DeviceOfPort(2, {user, library}).source, files::PortDevice::Variable);
    }
}

}  // namespace
