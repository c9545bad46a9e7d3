#include "Kodovani.h"

#include <gtest/gtest.h>

using namespace Kodovani;

TEST(Encoding, CzechAlphabetRoundTripsThroughWindows1250) {
    const std::string ceske = "áčďéěíňóřšťúůýž ÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ";
    const std::string bajty = Utf8NaCp1250(ceske);
    EXPECT_EQ(bajty.size(), 31u);
    EXPECT_EQ(static_cast<unsigned char>(bajty[0]), 0xE1);
    EXPECT_EQ(Cp1250NaUtf8(bajty), ceske);
}

TEST(Encoding, CharactersOutsideTheCodePageAndMalformedBytesBecomeQuestionMarks) {
    EXPECT_EQ(Utf8NaCp1250("a€ß→b"), "a\x80\xDF?b");
    EXPECT_EQ(Utf8NaCp1250("x\xC3"), "x?");
    EXPECT_EQ(Utf8NaCp1250("\xED\xA0\x80"), "???") << "a UTF-16 surrogate is not a character";
}

TEST(Encoding, Utf8Validity) {
    EXPECT_TRUE(JePlatneUtf8("Připojení"));
    EXPECT_FALSE(JePlatneUtf8("P\xF8ipojen\xED"));
    EXPECT_FALSE(JePlatneUtf8("\xC0\x80")) << "overlong";
    EXPECT_FALSE(JePlatneUtf8("\xF4\x90\x80\x80")) << "past U+10FFFF";
}

TEST(Encoding, CaseFoldCoversTheCodePagesLetters) {
    EXPECT_TRUE(StejneBezVelikosti1250(Utf8NaCp1250("PŘIPOJENÍ"), Utf8NaCp1250("Připojení")));
    EXPECT_TRUE(StejneBezVelikosti1250(Utf8NaCp1250("ŠŤŽŮĽ"), Utf8NaCp1250("šťžůľ")));
    EXPECT_FALSE(StejneBezVelikosti1250(Utf8NaCp1250("Připojeni"), Utf8NaCp1250("Připojení")));
    EXPECT_EQ(MalePismeno1250(0xD7), 0xD7) << "the multiplication sign has no lower case";
}
