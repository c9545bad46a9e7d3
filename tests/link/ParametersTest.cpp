// The one parser of the interfaces' parameters, in each of its notations.
#include "Interfaces.h"

#include <gtest/gtest.h>

namespace {

using kv618::Notation;

const kv618::Parameter& Param(uint8_t type, size_t index) { return kv618::Interfaces[type].parameters[index]; }

std::string Parsed(uint8_t type, size_t index, std::string_view text, Notation notation) {
    return kv618::ParseParameter(Param(type, index), text, notation).value_or("(refused)");
}

TEST(Parameters, TheIsaBaseIsHexadecimalWhereTypedAndDecimalWhereStored) {
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "300h", Notation::Typed), "768");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "300", Notation::Typed), "768");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "0x2a0", Notation::Typed), "672");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "1000h", Notation::Typed), "(refused)");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "768", Notation::Stored), "768");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "300h", Notation::Stored), "768");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "4096", Notation::Stored), "(refused)");
}

TEST(Parameters, TheDialogForgivesAsItAlwaysDid) {
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "2A0h", Notation::Dialog), "672");
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "2A0", Notation::Dialog), "768") << "three characters stand for 300h";
    EXPECT_EQ(Parsed(RozhraniPCI726, 0, "XYZh", Notation::Dialog), "768");
    EXPECT_EQ(Parsed(RozhraniCOM, 0, "abc", Notation::Dialog), "1");
    EXPECT_EQ(Parsed(RozhraniCOM, 0, "70000", Notation::Dialog), "4464") << "cut to 16 bits";
    EXPECT_EQ(Parsed(RozhraniKV1726, 0, "plc.local", Notation::Dialog), "plc.local");
    EXPECT_EQ(Parsed(RozhraniKV1726, 0, "", Notation::Dialog), "(refused)");
    EXPECT_EQ(kv618::RefusalText(Param(RozhraniKV1726, 1)), "Neplatný UDP port");
}

TEST(Parameters, TypedValuesHaveOneFormEach) {
    EXPECT_EQ(Parsed(RozhraniCOM, 0, "3", Notation::Typed), "3");
    EXPECT_EQ(Parsed(RozhraniCOM, 0, "0", Notation::Typed), "(refused)");
    EXPECT_EQ(Parsed(RozhraniCOM, 0, "256", Notation::Typed), "(refused)");
    EXPECT_EQ(Parsed(RozhraniKV1726, 0, "127.0.0.1", Notation::Typed), "127.0.0.1");
    EXPECT_EQ(Parsed(RozhraniKV1726, 0, "999.1.1.1", Notation::Typed), "(refused)");
    EXPECT_EQ(Parsed(RozhraniKV1726, 1, "65535", Notation::Typed), "65535");
    EXPECT_EQ(Parsed(RozhraniKV1726, 1, "65536", Notation::Stored), "(refused)");
}

TEST(Parameters, KeysAreTheSettingsFilesOrTheTools) {
    const auto& lan = kv618::Interfaces[RozhraniKV1726];
    EXPECT_EQ(kv618::ParameterNamed(lan, "UDP PORT")->notation, Notation::Stored);
    EXPECT_EQ(kv618::ParameterNamed(lan, "udp port")->notation, Notation::Stored) << "the settings key comes first";
    EXPECT_EQ(kv618::ParameterNamed(lan, "udp-port")->parameter, &lan.parameters[1]);
    EXPECT_EQ(kv618::ParameterNamed(lan, "ip")->notation, Notation::Typed);
    EXPECT_FALSE(kv618::ParameterNamed(lan, "base"));
    EXPECT_EQ(kv618::InterfaceOfOption("kv1726"), RozhraniKV1726);
    EXPECT_EQ(kv618::InterfaceOfSettingsName("kv-1726"), RozhraniKV1726);
    EXPECT_FALSE(kv618::InterfaceOfOption("KV-1726"));
}

}  // namespace
