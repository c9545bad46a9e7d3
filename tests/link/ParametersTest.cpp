// The one parser of the interfaces' parameters, in each of its notations.
#include "Interfaces.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace {

using kv618::Notation;

const kv618::Parameter& Param(uint8_t type, size_t index) { return kv618::Interfaces[type].parameters[index]; }

const std::string Refused = "(refused)";

std::string Parsed(uint8_t type, size_t index, std::string_view text, Notation notation) {
    return kv618::ParseParameter(Param(type, index), text, notation).value_or(Refused);
}

// Texts of one parameter in one notation, each with what it must come to
// (and why, where that is not plain).
struct Case {
    std::string_view text;
    std::string parsed;
    const char* why = "";
};

void ExpectParsed(uint8_t type, size_t index, Notation notation, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(Parsed(type, index, c.text, notation), c.parsed) << '"' << c.text << "\" " << c.why;
    }
}

TEST(Parameters, TheIsaBaseIsHexadecimalWhereTypedAndDecimalWhereStored) {
    ExpectParsed(RozhraniPCI726, 0, Notation::Typed, {{"300h", "768"}, {"300", "768"}, {"0x2a0", "672"}, {"1000h", Refused}});
    ExpectParsed(RozhraniPCI726, 0, Notation::Stored, {{"768", "768"}, {"300h", "768"}, {"4096", Refused}});
}

TEST(Parameters, TheDialogForgivesAsItAlwaysDid) {
    ExpectParsed(RozhraniPCI726, 0, Notation::Dialog,
                 {{"2A0h", "672"}, {"2A0", "768", "three characters stand for 300h"}, {"XYZh", "768"}});
    ExpectParsed(RozhraniCOM, 0, Notation::Dialog, {{"abc", "1"}, {"70000", "4464", "cut to 16 bits"}});
    ExpectParsed(RozhraniKV1726, 0, Notation::Dialog, {{"plc.local", "plc.local"}, {"", Refused}});
    EXPECT_EQ(kv618::RefusalText(Param(RozhraniKV1726, 1)), "Neplatný UDP port");
}

TEST(Parameters, TypedValuesHaveOneFormEach) {
    ExpectParsed(RozhraniCOM, 0, Notation::Typed, {{"3", "3"}, {"0", Refused}, {"256", Refused}});
    ExpectParsed(RozhraniKV1726, 0, Notation::Typed, {{"127.0.0.1", "127.0.0.1"}, {"999.1.1.1", Refused}});
    ExpectParsed(RozhraniKV1726, 1, Notation::Typed, {{"65535", "65535"}});
    ExpectParsed(RozhraniKV1726, 1, Notation::Stored, {{"65536", Refused}});
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
