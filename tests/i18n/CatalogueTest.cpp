#include "Catalogue.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

using i18n::Catalogue;

class CatalogueFile : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(KV_CZECH_CATALOGUE)) GTEST_SKIP() << "built without msgfmt";
        bytes_ = kvtest::ReadFile(KV_CZECH_CATALOGUE);
        ASSERT_FALSE(folder_.path().empty());
    }

    // The bytes as a catalogue file of this test's own.
    std::string Written(const std::string& bytes, const std::string& name = "kv618.mo") const {
        const std::string path = folder_.path() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    uint32_t Word(size_t at) const {
        uint32_t word;
        std::memcpy(&word, bytes_.data() + at, sizeof word);
        return word;
    }
    void SetWord(std::string& bytes, size_t at, uint32_t word) const { std::memcpy(bytes.data() + at, &word, sizeof word); }

    std::string bytes_;
    kvtest::TemporaryFolder folder_;
};

TEST_F(CatalogueFile, TranslatesWhatTheCzechCatalogueHoldsAndNothingElse) {
    Catalogue czech;
    ASSERT_TRUE(czech.Load(KV_CZECH_CATALOGUE));
    ASSERT_NE(czech.Find("Counters reset."), nullptr);
    EXPECT_STREQ(czech.Find("Counters reset."), "Čítače vynulovány.");
    EXPECT_STREQ(czech.Find("Status register reset."), "Status registr vynulován.");
    EXPECT_EQ(czech.Find("Counters reset"), nullptr) << "a text the catalogue does not hold";
    EXPECT_EQ(czech.Find(""), nullptr) << "the catalogue's header is no translation";
    EXPECT_FALSE(Catalogue().Loaded());
    EXPECT_EQ(Catalogue().Find("Counters reset."), nullptr);
}

// A catalogue written on a machine of the other byte order: every number of
// the header and of both tables swapped.
TEST_F(CatalogueFile, ReadsACatalogueOfTheOtherByteOrder) {
    std::string swapped = bytes_;
    const uint32_t count = Word(8);
    for (size_t at = 0; at < 28; at += 4) SetWord(swapped, at, __builtin_bswap32(Word(at)));
    for (const uint32_t table : {Word(12), Word(16)})
        for (size_t at = table; at < table + size_t{count} * 8; at += 4) SetWord(swapped, at, __builtin_bswap32(Word(at)));
    Catalogue czech;
    ASSERT_TRUE(czech.Load(Written(swapped)));
    EXPECT_STREQ(czech.Find("Counters reset."), "Čítače vynulovány.");
}

// A damaged file translates nothing it does not hold whole: no read past its
// end, whatever its numbers say.
TEST_F(CatalogueFile, ADamagedCatalogueIsRefusedOrTranslatesOnlyWhatItHoldsWhole) {
    Catalogue damaged;
    EXPECT_FALSE(damaged.Load(folder_.path() + "/missing.mo"));
    EXPECT_FALSE(damaged.Load(folder_.path())) << "a folder";
    std::string wrongMagic = bytes_;
    wrongMagic[0] ^= 1;
    EXPECT_FALSE(damaged.Load(Written(wrongMagic)));
    EXPECT_FALSE(damaged.Loaded());

    std::string tooMany = bytes_;
    SetWord(tooMany, 8, 0x7FFFFFFF);
    EXPECT_FALSE(damaged.Load(Written(tooMany))) << "more strings than the file can hold";
    std::string tableOutside = bytes_;
    SetWord(tableOutside, 16, static_cast<uint32_t>(bytes_.size()));
    EXPECT_FALSE(damaged.Load(Written(tableOutside)));

    // Every string's offset beyond the end: found by none.
    std::string stringsOutside = bytes_;
    for (size_t i = 0; i < Word(8); ++i) SetWord(stringsOutside, Word(16) + i * 8 + 4, 0xFFFFFFF0u);
    ASSERT_TRUE(damaged.Load(Written(stringsOutside)));
    EXPECT_EQ(damaged.Find("Counters reset."), nullptr);

    for (size_t size = 0; size < bytes_.size(); size += 97) {
        Catalogue cut;
        if (!cut.Load(Written(bytes_.substr(0, size)))) continue;
        if (const char* text = cut.Find("Counters reset.")) {
            EXPECT_STREQ(text, "Čítače vynulovány.") << size;
        }
    }
}

}  // namespace
