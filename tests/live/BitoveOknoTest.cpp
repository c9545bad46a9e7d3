// The two windows that show a 32-bit word of the module bit by bit, the
// inputs and the status register, poll it the same way: one suite for both.
#include "OkamDIN.h"
#include "StatReg.h"
#include "ZiveOkno.h"

#include <array>
#include <string>
#include <utility>

namespace {

// What each window polls: the emulator's name of the word, the request
// (function and sub-code) that reads it, and the registers to clear so that
// the word reads back as set.
template <typename TOkno>
struct Slovo;
template <>
struct Slovo<TForm11> {
    static constexpr const char* Jmeno = "inputs";
    static constexpr const char* Cteni = "0 64";
    static constexpr std::array<int, 4> Nulovat = {0x21, 0x24, 0x27, 0x2A};  // the inputs' negation
};
template <>
struct Slovo<TForm15> {
    static constexpr const char* Jmeno = "status";
    static constexpr const char* Cteni = "100 0";
    static constexpr std::array<int, 0> Nulovat = {};
};

template <typename TOkno>
class BitoveOkno : public ZiveOkno {
protected:
    void SetUp() override {
        ZiveOkno::SetUp();
        if (HasFatalFailure()) return;
        for (int registr : Slovo<TOkno>::Nulovat) {
            ASSERT_EQ(Emu->command("set reg " + std::to_string(registr) + " 0"), "ok");
        }
    }
    void NastavSlovo(uint32_t Hodnota) { Nastav(Slovo<TOkno>::Jmeno, Hodnota); }
};

using Okna = ::testing::Types<TForm11, TForm15>;
TYPED_TEST_SUITE(BitoveOkno, Okna);

TYPED_TEST(BitoveOkno, FailedReadKeepsLastGoodValuesUntilTheNextGoodOne) {
    this->NastavSlovo(0xA5C3810F);
    TypeParam okno;
    this->UkazBezCasovace(okno);
    this->Tik(okno);
    ASSERT_EQ(this->Bity(&okno), 0xA5C3810FU);

    this->NastavSlovo(0x00FF00FF);
    const std::string cteni = Slovo<TypeParam>::Cteni;
    const std::pair<std::string, int> poruchy[] = {{"fault timeout " + cteni + " 1", BezOdpovedi},
                                                   {"fault refuse " + cteni + " 1", Odmitnuto}};
    for (const auto& [porucha, kod] : poruchy) {
        ASSERT_EQ(this->Emu->command(porucha), "ok");
        this->Tik(okno);
        EXPECT_EQ(this->Bity(&okno), 0xA5C3810FU) << porucha;
        EXPECT_EQ(this->TextStavu(&okno), this->TextChybyKodu(kod)) << porucha;
        EXPECT_NE(this->TextStavu(&okno), this->TextUspechu()) << porucha;
    }

    this->Tik(okno);
    EXPECT_EQ(this->Bity(&okno), 0x00FF00FFU);
    EXPECT_EQ(this->TextStavu(&okno), this->TextUspechu());
}

TYPED_TEST(BitoveOkno, NotConnectedSendsNothing) {
    this->NastavSlovo(0xFFFFFFFF);
    TypeParam okno;
    this->UkazBezCasovace(okno);
    const uint32_t pred = this->Pozadavky();

    this->Data.Pripojeno = 0;
    this->Tik(okno);
    EXPECT_EQ(this->TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(this->Bity(&okno), 0U);

    this->Data.Pripojeno = 1;
    const int32_t handle = this->Data.Handle;
    this->Data.Handle = 0;
    this->Tik(okno);
    EXPECT_EQ(this->TextStavu(&okno), " Připojení k modulu není inicializováno.");
    EXPECT_EQ(this->Bity(&okno), 0U);
    EXPECT_EQ(this->Pozadavky(), pred);

    this->Data.Handle = handle;
    this->Tik(okno);
    EXPECT_EQ(this->Bity(&okno), 0xFFFFFFFFU);
}

}  // namespace
