#include "Files.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.empty()); }

    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    static unsigned Mode(const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    const kvtest::TemporaryFolder temporary_{"kvfiles"};
    const std::string folder_ = temporary_.path();
};

class Umask {
public:
    explicit Umask(mode_t mask) : before_(::umask(mask)) {}
    ~Umask() { ::umask(before_); }

private:
    mode_t before_;
};

TEST_F(Files, ReplaceWritesThroughASymbolicLinkAndKeepsTheLink) {
    const std::string real = Path("real.ini"), link = Path("link.ini");
    ASSERT_FALSE(files::Replace(real, "old").failed());
    fs::create_symlink("real.ini", link);
    ASSERT_FALSE(files::Replace(link, "new").failed());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(kvtest::ReadFile(real), "new");
    EXPECT_EQ(Names(), (std::vector<std::string>{"link.ini", "real.ini"}));
}

TEST_F(Files, ReplaceThroughADanglingLinkCreatesItsTarget) {
    fs::create_symlink("later.ini", Path("link.ini"));
    ASSERT_FALSE(files::Replace(Path("link.ini"), "x").failed());
    EXPECT_TRUE(fs::is_symlink(Path("link.ini")));
    EXPECT_EQ(kvtest::ReadFile(Path("later.ini")), "x");
}

TEST_F(Files, ANewFileFollowsTheUmaskAndAnExistingOneKeepsItsMode) {
    {
        const Umask mask(077);
        ASSERT_FALSE(files::Replace(Path("private"), "x").failed());
    }
    EXPECT_EQ(Mode(Path("private")), 0600u);
    {
        const Umask mask(022);
        ASSERT_FALSE(files::Replace(Path("shared"), "x").failed());
        ASSERT_EQ(Mode(Path("shared")), 0644u);
        ::chmod(Path("shared").c_str(), 0640);
        ASSERT_FALSE(files::Replace(Path("shared"), "y").failed());
    }
    EXPECT_EQ(Mode(Path("shared")), 0640u);
}

TEST_F(Files, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    ASSERT_FALSE(files::Replace(Path("state"), "old").failed());
    // A file size limit makes the write itself fail half-way.
    const auto before = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{}, small{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    small = limit;
    small.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const files::Failure failure = files::Replace(Path("state"), std::string(100000, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, before);
    EXPECT_EQ(failure.kind, files::Failure::CannotWrite);
    EXPECT_EQ(kvtest::ReadFile(Path("state")), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"state"});
}

TEST_F(Files, ReadOnlyFilesAndFoldersAreNotReplaced) {
    ASSERT_FALSE(files::Replace(Path("ro"), "old").failed());
    ::chmod(Path("ro").c_str(), 0444);
    EXPECT_EQ(files::Replace(Path("ro"), "new").kind, files::Failure::ReadOnly);
    EXPECT_EQ(kvtest::ReadFile(Path("ro")), "old");
    fs::create_directory(Path("dir"));
    EXPECT_EQ(files::Replace(Path("dir"), "new").kind, files::Failure::NotRegular);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dir", "ro"}));
}

TEST_F(Files, ReadRefusesWhatIsTooLargeOrNoFileWithoutWaiting) {
    std::string bytes;
    EXPECT_EQ(files::Read("/dev/zero", bytes, files::Kinds::Any).kind, files::Failure::TooLarge);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(files::Read("/dev/zero", bytes).kind, files::Failure::NotRegular);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(files::Read(Path("fifo"), bytes).kind, files::Failure::NotRegular) << "and it did not wait for a writer";
    EXPECT_EQ(files::Read(Path("none"), bytes).kind, files::Failure::Missing);
    ASSERT_FALSE(files::Replace(Path("exact"), std::string(files::ReadCap, 'a')).failed());
    EXPECT_FALSE(files::Read(Path("exact"), bytes).failed());
    EXPECT_EQ(bytes.size(), files::ReadCap);
}

TEST_F(Files, MakeFoldersMakesTheMissingParents) {
    EXPECT_FALSE(files::MakeFolders(Path("a/b/c")).failed());
    EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
    EXPECT_FALSE(files::MakeFolders(Path("a/b/c")).failed()) << "twice is fine";
    ASSERT_FALSE(files::Replace(Path("f"), "x").failed());
    const files::Failure failure = files::MakeFolders(Path("f/g"));
    EXPECT_EQ(failure.kind, files::Failure::CannotMakeFolder);
    EXPECT_EQ(failure.path, Path("f/g"));
}

}  // namespace
