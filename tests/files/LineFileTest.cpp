// A log written line by line: every line whole, a failed write cut back to
// the last whole line, and what is no regular file refused without waiting.
#include "LineFile.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// A file size limit for the scope: writes beyond it fail half way (EFBIG).
class SizeLimit {
public:
    explicit SizeLimit(rlim_t bytes) : signal_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        rlimit small = before_;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~SizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, signal_);
    }

private:
    rlimit before_{};
    void (*signal_)(int);
};

class LineFile : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return temporary_.path() + "/" + name; }
    const kvtest::TemporaryFolder temporary_{"kvlinefile"};
};

TEST_F(LineFile, EachLineGoesInWholeAndAFileThereIsStartedAfresh) {
    {
        files::LineFile log;
        ASSERT_FALSE(log.Create(Path("log.csv")).failed());
        ASSERT_FALSE(log.Append("time,inputs").failed());
        ASSERT_FALSE(log.Append("2026-01-01T00:00:00.000+01:00,5").failed());
        EXPECT_EQ(log.Size(), 44u);
        EXPECT_FALSE(log.Close().failed());
    }
    EXPECT_EQ(kvtest::ReadFile(Path("log.csv")), "time,inputs\n2026-01-01T00:00:00.000+01:00,5\n");
    files::LineFile again;
    ASSERT_FALSE(again.Create(Path("log.csv")).failed());
    EXPECT_EQ(kvtest::ReadFile(Path("log.csv")), "");
}

TEST_F(LineFile, AWriteThatFailsHalfWayLeavesTheFileEndingWithItsLastWholeLine) {
    files::LineFile log;
    ASSERT_FALSE(log.Create(Path("log.csv")).failed());
    ASSERT_FALSE(log.Append("first line").failed());
    files::Failure failure;
    {
        const SizeLimit limit(16);  // the next line fits in part
        failure = log.Append("second line, too long for the limit");
    }
    EXPECT_EQ(failure.kind, files::Failure::CannotWrite);
    EXPECT_EQ(failure.error, EFBIG);
    EXPECT_EQ(kvtest::ReadFile(Path("log.csv")), "first line\n");
    EXPECT_EQ(log.Size(), 11u);
    // The file stays open: once there is room, the log goes on.
    ASSERT_FALSE(log.Append("third line").failed());
    EXPECT_EQ(kvtest::ReadFile(Path("log.csv")), "first line\nthird line\n");
}

TEST_F(LineFile, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    files::LineFile log;
    EXPECT_EQ(log.Create(Path("fifo")).kind, files::Failure::NotRegular);
    EXPECT_EQ(log.Create(temporary_.path()).kind, files::Failure::NotRegular);
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Append("x").kind, files::Failure::CannotWrite);
}

}  // namespace
