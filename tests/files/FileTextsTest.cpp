// The words of a file failure: the program's windows show their own Czech
// whatever the locale; the tools' English is what the catalogue translates.
#include "FileTexts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using Kind = files::Failure::Kind;

std::string System(int error) { return std::strerror(error); }

TEST(FileTexts, TheWindowsShowTheirOwnCzech) {
    const auto czech = [](Kind kind, int error, const std::string& path = "/x/R_iv618.ini") {
        return i18n::FileReasonCzech({kind, error, path});
    };
    EXPECT_EQ(czech(Kind::NotRegular, 0), "není to obyčejný soubor");
    EXPECT_EQ(czech(Kind::ReadOnly, 0), "soubor je jen pro čtení (" + System(EACCES) + ")");
    EXPECT_EQ(czech(Kind::ReadOnly, EROFS), "soubor je jen pro čtení (" + System(EROFS) + ")");
    EXPECT_EQ(czech(Kind::TooLarge, 0), "soubor je příliš velký (nad 1 MiB), nic se nezapsalo");
    EXPECT_EQ(czech(Kind::CannotRead, EIO), "soubor nelze přečíst (" + System(EIO) + "), nic se nezapsalo");
    EXPECT_EQ(czech(Kind::CannotCreate, ENOSPC), "dočasný soubor nelze vytvořit (" + System(ENOSPC) + ")");
    EXPECT_EQ(czech(Kind::CannotReplace, EXDEV), "soubor nelze nahradit (" + System(EXDEV) + ")");
    EXPECT_EQ(czech(Kind::CannotWrite, ENOSPC), "zápis selhal (" + System(ENOSPC) + ")");
    EXPECT_EQ(czech(Kind::CannotMakeFolder, ENOTDIR, "/x/r_iv618"),
              "složku /x/r_iv618 nelze vytvořit (" + System(ENOTDIR) + ")");
}

TEST(FileTexts, TheToolsSayItInEnglishForTheCatalogue) {
    EXPECT_EQ(i18n::FileReason({Kind::None, 0, ""}), "");
    EXPECT_EQ(i18n::FileReason({Kind::NotRegular, 0, "d"}), "not a regular file");
    EXPECT_EQ(i18n::FileReason({Kind::TooLarge, 0, "f"}), "file too large");
    EXPECT_EQ(i18n::FileReason({Kind::ReadOnly, 0, "f"}), "the file is read-only");
    EXPECT_EQ(i18n::FileReason({Kind::ReadOnly, EACCES, "f"}), System(EACCES));
    EXPECT_EQ(i18n::FileReason({Kind::Missing, ENOENT, "f"}), System(ENOENT));
    EXPECT_EQ(i18n::FileProblem({Kind::NotRegular, 0, "d"}), "File d is not a regular file; nothing was written");
    EXPECT_EQ(i18n::FileProblem({Kind::CannotRead, EIO, "f"}), "Cannot read file f (" + System(EIO) + ")");
    EXPECT_EQ(i18n::FileProblem({Kind::CannotMakeFolder, ENOTDIR, "d"}),
              "Cannot create folder d (" + System(ENOTDIR) + ")");
}

}  // namespace
