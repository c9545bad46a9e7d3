// The card sockets' folder: private to the user by default, and a folder
// that someone else controls is refused by the libraries.
#include "CardFolder.h"
#include "DriverTestSupport.h"
#include "FakePeer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "TestFiles.h"

namespace {

using TPromenna = kvtest::ScopedEnv;

TEST(CardFolder, DefaultIsInTheSessionsRuntimeFolderElseAPerUserOneUnderTmp) {
    {
        TPromenna runtime("XDG_RUNTIME_DIR", "/run/user/1234");
        EXPECT_EQ(wire::DefaultCardFolder(), "/run/user/1234/kv618");
    }
    TPromenna runtime("XDG_RUNTIME_DIR", nullptr);
    EXPECT_EQ(wire::DefaultCardFolder(), "/tmp/kv618-" + std::to_string(::geteuid()));
}

TEST(CardFolder, APrivateFolderIsCreatedWithMode0700AndTrusted) {
    fake::TempFolder base;
    const std::string folder = base.path() + "/kv618";
    const mode_t umask = ::umask(0);  // the folder's mode must not depend on the umask
    std::string why;
    EXPECT_TRUE(wire::PreparePrivateFolder(folder, why)) << why;
    ::umask(umask);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(wire::UntrustedFolderReason(folder), "");
    EXPECT_TRUE(wire::PreparePrivateFolder(folder, why)) << "an existing private folder is taken as it is";
}

TEST(CardFolder, FoldersOthersMayWriteToOrThatAreLinksAreNotTrusted) {
    fake::TempFolder base;
    const std::string open = base.path() + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_NE(wire::UntrustedFolderReason(open).find("other users may write"), std::string::npos);
    ASSERT_EQ(::chmod(open.c_str(), 0770), 0);
    EXPECT_NE(wire::UntrustedFolderReason(open), "") << "the group is others too";
    std::string why;
    EXPECT_FALSE(wire::PreparePrivateFolder(open, why));
    EXPECT_NE(why.find(open), std::string::npos) << why;

    const std::string link = base.path() + "/link";
    ASSERT_EQ(::symlink(base.path().c_str(), link.c_str()), 0);
    EXPECT_NE(wire::UntrustedFolderReason(link), "") << "a link may be turned elsewhere at any time";
}

TEST(CardFolder, AFolderOfAnotherUserIsNotTrusted) {
    if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can give a folder away";
    fake::TempFolder base;
    const std::string theirs = base.path() + "/theirs";
    ASSERT_EQ(::mkdir(theirs.c_str(), 0700), 0);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_NE(wire::UntrustedFolderReason(theirs).find("another user"), std::string::npos);
    std::string why;
    EXPECT_FALSE(wire::PreparePrivateFolder(theirs, why));
}

// Through the real libraries: a card socket in an open folder could be any
// local user's program posing as the card.
TEST(CardFolder, TheLibrariesRefuseACardInAFolderOthersMayWriteTo) {
    fake::TempFolder base;
    const std::string open = base.path() + "/open";
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    fake::CardPeer card([](const wire::Request& r) { return std::vector<fake::Answer>{{fake::replyTo(r, 0, {})}}; },
                        open, "usb1726.sock");
    TPromenna folder("KV618_CARD_DIR", open.c_str());
    int32_t handle = 0;
    ASSERT_EQ(InitRozhrani(RozhraniUSB1726, &handle, {}), 0) << "a private folder is fine";
    EXPECT_EQ(UkonciRozhrani(RozhraniUSB1726, &handle), 0);

    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    EXPECT_EQ(InitRozhrani(RozhraniUSB1726, &handle, {}), 20);
    EXPECT_EQ(handle, 0);
    const std::string text = TextKodu(RozhraniUSB1726, 20);
    EXPECT_NE(text.find(open), std::string::npos) << text;
    EXPECT_EQ(card.requestCount(), 0);
    // The library stays bound after a failed _Init; the next test binds anew.
    ::chmod(open.c_str(), 0700);
}

}  // namespace
