#include "Dekl.h"

#include <gtest/gtest.h>

TEST(BaudRates, TableAndFallbacks) {
    const int32_t rychlosti[] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    const int32_t casy[] = {100, 100, 50, 25, 13, 7, 5, 5, 5};
    for (uint8_t i = 0; i < 9; ++i) {
        EXPECT_EQ(RychlostZIndexu(i), rychlosti[i]);
        EXPECT_EQ(IndexRychlosti(rychlosti[i]), i);
        EXPECT_EQ(TimeoutRychlosti(rychlosti[i]), casy[i]);
    }
    EXPECT_EQ(IndexRychlosti(14400), 4);
    EXPECT_EQ(RychlostZIndexu(9), 9600);
    EXPECT_EQ(RychlostZIndexu(255), 9600);
    EXPECT_EQ(TimeoutRychlosti(14400), 100);
}

TEST(TimeText, PadsMinutesAndSecondsAndClampsEachField) {
    EXPECT_EQ(CasNaText(9, 5, 7), "7:05:09");
    EXPECT_EQ(CasNaText(75, 61, 30), "23:59:59");
    EXPECT_EQ(CasNaText(0, 0, 0), "0:00:00");
    EXPECT_EQ(CasNaText(59, 10, 23), "23:10:59");
}

TEST(DateText, YearFromTheFourYearCycle) {
    EXPECT_EQ(DatumNaText(3, 12, 2, 2024), "3.12.2026");
    EXPECT_EQ(DatumNaText(3, 12, 2, 2027), "3.12.2026");
    EXPECT_EQ(DatumNaText(40, 13, 1, 2026), "31.12.2025");
    EXPECT_EQ(DatumNaText(3, 4, 3, 2026), "3.4.2027");
    EXPECT_EQ(DatumNaText(1, 1, 255, 2026), "1.1.2279") << "the cycle is not limited";
}

TEST(DateText, WithoutAYearUsesTheComputersClock) {
    const std::time_t ted = std::time(nullptr);
    std::tm mistni{};
    localtime_r(&ted, &mistni);
    EXPECT_EQ(DatumNaText(1, 2, 0), DatumNaText(1, 2, 0, mistni.tm_year + 1900));
}

TEST(ValidatedNumber, BoundsIncludedAndNothingWrittenOnFailure) {
    uint16_t v = 77;
    EXPECT_TRUE(CtiCislo("1000", 1, 1000, v));
    EXPECT_EQ(v, 1000);
    v = 77;
    for (const char* spatne : {"0", "1001", "abc", "", "-5", "12abc", "1 2", "+-3", "99999999999"}) {
        EXPECT_FALSE(CtiCislo(spatne, 1, 1000, v)) << spatne;
        EXPECT_EQ(v, 77) << spatne;
    }
    EXPECT_TRUE(CtiCislo("255", 0, 255, v));
    EXPECT_TRUE(CtiCislo(" +7 ", 0, 255, v));
    EXPECT_EQ(v, 7);
}

TEST(Packing, FirstByteIsTheLowest) {
    EXPECT_EQ(SlozCislo(1, 2, 3, 4), 67305985u);
    EXPECT_EQ(SlozCislo(0xFF, 0xFF, 0xFF, 0xFF), 4294967295u);
}

TEST(ConnectionRule, NeedsBothTheFlagAndAHandle) {
    TData d;
    InicializujData(&d);
    EXPECT_FALSE(JePripojeno(nullptr));
    EXPECT_FALSE(JePripojeno(&d));
    d.Pripojeno = 1;
    EXPECT_FALSE(JePripojeno(&d));
    d.Handle = 3;
    EXPECT_TRUE(JePripojeno(&d));
    d.Pripojeno = 0;
    EXPECT_FALSE(JePripojeno(&d));
}
