// The binding against fake libraries loaded through a real dlopen.
#include "Library.h"
#include "Qxxx726.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        NastavSlozkuKnihoven(FAKE_DIR);
        char sablona[] = "/tmp/kvjournalXXXXXX";
        const int fd = ::mkstemp(sablona);
        ASSERT_GE(fd, 0);
        ::close(fd);
        journal_ = sablona;
        ::setenv("KV_FAKE_JOURNAL", journal_.c_str(), 1);
        ::unsetenv("KV_FAKE_INIT_RESULT");
        ::unsetenv("KV_FAKE_INIT_HANDLE");
        ::unsetenv("KV_FAKE_SEND_RESULT");
        ::unsetenv("KV_FAKE_SEND_ERROR");
        ::unsetenv("KV_FAKE_ERROR_UNTERMINATED");
    }
    void TearDown() override {
        int32_t h = 0;
        UkonciRozhrani(RozhraniCOM, &h);
        UkonciRozhrani(RozhraniKV1726, &h);
        NastavSlozkuKnihoven("");
        ::unlink(journal_.c_str());
    }
    std::string Journal() const {
        std::ifstream f(journal_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    int32_t Init(uint8_t typ, int32_t& handle) {
        TInitParametry p{};
        p[0] = 3;
        return InitRozhrani(typ, &handle, p);
    }
    std::string journal_;
};

TEST_F(Binding, MissingLibraryGivesLoadCodeAndItsTextAndLeavesNothingLoaded) {
    int32_t h = 0;
    EXPECT_EQ(Init(RozhraniPCI1726, h), 102);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_EQ(TextKodu(RozhraniPCI1726, 102), "chyba inicializace knihovny QPCI1726.DLL");
}

TEST_F(Binding, TruncatedOrFifoLibraryIsRefusedAsMissingWithoutAFaultOrAWait) {
    char folder[] = "/tmp/kvlibsXXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string com = std::string(folder) + "/QCOM726.DLL", lan = std::string(folder) + "/QKV1726.DLL";
    std::ifstream whole(std::string(FAKE_DIR) + "/QCOM726.DLL", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(whole), {}};
    ASSERT_GT(bytes.size(), 4096u);
    std::ofstream(com, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    ASSERT_EQ(::mkfifo(lan.c_str(), 0600), 0);
    NastavSlozkuKnihoven(folder);

    int32_t h = 0;
    EXPECT_EQ(Init(RozhraniCOM, h), 100);
    EXPECT_EQ(Init(RozhraniKV1726, h), 104);
    EXPECT_FALSE(JeKnihovnaNactena());
    ::unlink(com.c_str());
    ::unlink(lan.c_str());
    ::rmdir(folder);
}

TEST_F(Binding, LibraryLackingGetConfigIsRefusedWhole) {
    int32_t h = 0;
    EXPECT_EQ(Init(RozhraniPCI726, h), 111);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_EQ(Journal(), "") << "_Init must not be called";
}

TEST_F(Binding, InterfaceAboveFourGivesTen) {
    int32_t h = 0;
    EXPECT_EQ(Init(5, h), 10);
    EXPECT_EQ(KonfigRozhrani(7, 1, 9600, 13, 2), 10);
}

TEST_F(Binding, CallsWhileUnboundGiveTenWithoutACall) {
    int32_t h = 0;
    std::array<int32_t, 100> req{}, rep{};
    int32_t st = 0, err = 0;
    EXPECT_EQ(KonfigRozhrani(RozhraniCOM, 1, 9600, 13, 2), 10);
    EXPECT_EQ(PosliRozhrani(RozhraniCOM, 1, req.data(), rep.data(), &st, &err), 10);
    EXPECT_EQ(UkonciRozhrani(RozhraniCOM, &h), 10);
    TChybovyText b;
    b.fill(65);
    EXPECT_EQ(TextChyby(RozhraniCOM, 3, b), 10);
    EXPECT_EQ(BufferNaText(b), "");
    EXPECT_EQ(Journal(), "");
}

TEST_F(Binding, InitSetConfigDoneReachTheLibraryInOrder) {
    int32_t h = 0;
    ASSERT_EQ(Init(RozhraniCOM, h), 0);
    EXPECT_EQ(h, 77);
    EXPECT_EQ(KonfigRozhrani(RozhraniCOM, h, 19200, TimeoutRychlosti(19200), 2), 0);
    EXPECT_EQ(UkonciRozhrani(RozhraniCOM, &h), 0);
    EXPECT_EQ(h, 0);
    EXPECT_FALSE(JeKnihovnaNactena());
    EXPECT_EQ(Journal(), "Init value=3\nSetConfig handle=77 rate=19200 time=7 mode=2\nDone handle=77\n");
}

TEST_F(Binding, AfterDoneSendGivesTenWithoutTouchingTheLibrary) {
    int32_t h = 0;
    ASSERT_EQ(Init(RozhraniCOM, h), 0);
    UkonciRozhrani(RozhraniCOM, &h);
    uint8_t d0 = 0, d1 = 0, d2 = 0, d3 = 0, d4 = 0, chyba = 0;
    TOdpoved odp{};
    PrenosDat(RozhraniCOM, 77, 1, 0, 0x40, d0, d1, d2, d3, d4, chyba, odp);
    EXPECT_EQ(chyba, 10);
    EXPECT_EQ(Journal().find("Send"), std::string::npos);
}

TEST_F(Binding, ParameterBlockReachesLanInitWithAUsableIpText) {
    const std::string ip = "127.0.0.1";
    TInitParametry p{};
    p[0] = reinterpret_cast<intptr_t>(ip.c_str());
    p[1] = 5123;
    p[2] = 250;
    int32_t h = 0;
    ASSERT_EQ(InitRozhrani(RozhraniKV1726, &h, p), 0);
    EXPECT_EQ(Journal(), "Init ip=127.0.0.1 port=5123 timeout=250 rest=0\n");
}

TEST_F(Binding, FailedInitLeavesLibraryBoundForItsTextThenUnloadsOnRebind) {
    ::setenv("KV_FAKE_INIT_RESULT", "6", 1);
    int32_t h = 0;
    EXPECT_EQ(Init(RozhraniCOM, h), 6);
    EXPECT_TRUE(JeKnihovnaNactena());
    EXPECT_EQ(TextKodu(RozhraniCOM, 6), "chyba č. 6");
    EXPECT_EQ(Init(RozhraniPCI1726, h), 102);
    EXPECT_FALSE(JeKnihovnaNactena()) << "the library of the failed _Init must be unloaded";
}

TEST_F(Binding, ZeroHandleAfterASuccessfulInitIsABrokenLibrary) {
    ::setenv("KV_FAKE_INIT_HANDLE", "0", 1);
    int32_t h = 0;
    EXPECT_EQ(Init(RozhraniCOM, h), 110);
    EXPECT_EQ(TextKodu(RozhraniCOM, 110), "chybná knihovna QCOM726.DLL");
    EXPECT_EQ(Journal(), "Init value=3\n") << "a link that was never opened is not closed";
    ::unsetenv("KV_FAKE_INIT_HANDLE");
    EXPECT_EQ(Init(RozhraniPCI1726, h), 102);
    EXPECT_FALSE(JeKnihovnaNactena()) << "the broken library is unloaded before binding anew";
}

TEST_F(Binding, FixedTextsDependOnTheCodeAlone) {
    TChybovyText b{};
    TextChyby(RozhraniCOM, 112, b);
    EXPECT_EQ(BufferNaText(b), "chybná knihovna QPCI1726.DLL");
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[6], 0xE1) << "cells hold Windows-1250 codes";
    EXPECT_EQ(TextKodu(RozhraniKV1726, 100), "chyba inicializace knihovny QCOM726.DLL");
    EXPECT_EQ(TextKodu(RozhraniCOM, 114), "chybná knihovna QKV1726.DLL");
    for (int kod : {105, 107, 109, 115, 255, 100000}) EXPECT_EQ(TextKodu(RozhraniCOM, kod), "neznámý chybový kód") << kod;
}

class Exchange : public Binding {
protected:
    void SetUp() override {
        Binding::SetUp();
        ASSERT_EQ(Init(RozhraniCOM, h_), 0);
    }
    int32_t h_ = 0;
    uint8_t d0 = 9, d1 = 8, d2 = 7, d3 = 6, d4 = 5, chyba = 99;
    TOdpoved odp{};
    void Posli() { PrenosDat(RozhraniCOM, h_, 0x21, 0x66, 0x03, d0, d1, d2, d3, d4, chyba, odp); }
};

TEST_F(Exchange, SuccessUnpacksStatusAndLowBytesOfTheReply) {
    Posli();
    EXPECT_EQ(chyba, 0);
    EXPECT_EQ(d0, 0x01);
    EXPECT_EQ(d1, 0x12);
    EXPECT_EQ(d2, 0x34);
    EXPECT_EQ(d3, 0x56);
    EXPECT_EQ(d4, 0x78);
    EXPECT_NE(Journal().find("Send handle=77 req=33,102,3,9,8,7,6,5"), std::string::npos) << Journal();
}

TEST_F(Exchange, ErrorVariableWithZeroResultClearsTheBytes) {
    ::setenv("KV_FAKE_SEND_ERROR", "5", 1);
    Posli();
    EXPECT_EQ(chyba, 5);
    EXPECT_EQ(d0 | d1 | d2 | d3 | d4, 0);
}

TEST_F(Exchange, NonzeroResultOverridesTheErrorVariable) {
    ::setenv("KV_FAKE_SEND_RESULT", "7", 1);
    Posli();
    EXPECT_EQ(chyba, 7);
    ::setenv("KV_FAKE_SEND_ERROR", "5", 1);
    Posli();
    EXPECT_EQ(chyba, 7);
}

TEST_F(Exchange, CodeThatDoesNotFitAByteNeverPassesForSuccess) {
    for (const char* kod : {"256", "-1", "513"}) {
        ::setenv("KV_FAKE_SEND_RESULT", kod, 1);
        Posli();
        EXPECT_EQ(chyba, kv618::CodeOutOfRange) << kod;
        EXPECT_EQ(TextKodu(RozhraniCOM, chyba), "neznámý chybový kód");
    }
}

TEST_F(Exchange, ZeroHandleSendsNothingAndTouchesNothing) {
    PrenosDat(RozhraniCOM, 0, 1, 0, 0x40, d0, d1, d2, d3, d4, chyba, odp);
    EXPECT_EQ(chyba, 99);
    EXPECT_EQ(d0, 9);
    EXPECT_EQ(d4, 5);
    EXPECT_EQ(Journal().find("Send"), std::string::npos);
}

TEST_F(Exchange, UnterminatedLibraryTextIsCutAtOneHundredCells) {
    ::setenv("KV_FAKE_ERROR_UNTERMINATED", "1", 1);
    EXPECT_EQ(TextKodu(RozhraniCOM, 1), std::string(100, 'x'));
}

TEST(Buffer, TextNaBufferStartsInCellOneAndKeepsNinetyNineCharacters) {
    TChybovyText b;
    b.fill(-1);
    TextNaBuffer(std::string(120, 'a'), b);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[99], 'a');
    EXPECT_EQ(BufferNaText(b), std::string(99, 'a'));
}

TEST(Buffer, TextFromCellZeroOrCellOneReadsTheSame) {
    TChybovyText a{}, b{};
    a[0] = 'a', a[1] = 'b', a[2] = 'c';
    b[1] = 'a', b[2] = 'b', b[3] = 'c';
    EXPECT_EQ(BufferNaText(a), "abc");
    EXPECT_EQ(BufferNaText(b), "abc");
}

TEST(Buffer, OnlyTheLowByteCountsAndCzechLettersComeBackAsUtf8) {
    TChybovyText b{};
    b[0] = 0x100 | 0xE8;  // č
    b[1] = 0x7FFFFF00 | 'x';
    EXPECT_EQ(BufferNaText(b), "čx");
    TextNaBuffer("Příliš žluťoučký kůň", b);
    EXPECT_EQ(BufferNaText(b), "Příliš žluťoučký kůň");
}

TEST(Buffer, CellsWithEveryByteValueGiveAText) {
    TChybovyText b{};
    for (int i = 0; i < 99; ++i) b[static_cast<size_t>(i)] = 0x80 + i;
    const std::string text = BufferNaText(b);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos) << "unassigned bytes become U+FFFD";
}

}  // namespace
