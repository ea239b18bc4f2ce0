#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "app/output_check.h"
#include "common/temp_dir.h"

TEST(OutputCheck, JudgesThePathWithoutLeavingAProbeBehind) {
    TempDir dir("out");
    EXPECT_EQ(CheckOutputFile(""), OutputCheck::kEmpty);
    EXPECT_EQ(CheckOutputFile(dir / "new.rvx"), OutputCheck::kAccepted);
    EXPECT_FALSE(std::filesystem::exists(dir / "new.rvx"));
    EXPECT_EQ(CheckOutputFile(dir.path().string()), OutputCheck::kCannotCreate);
    EXPECT_EQ(CheckOutputFile(dir / "missing/new.rvx"), OutputCheck::kCannotCreate);

    std::ofstream(dir / "old.rvx") << "x";
    EXPECT_EQ(CheckOutputFile(dir / "old.rvx"), OutputCheck::kExists);
    if (::geteuid() != 0) {  // root may write anywhere
        std::filesystem::permissions(dir / "old.rvx", std::filesystem::perms::owner_read);
        EXPECT_EQ(CheckOutputFile(dir / "old.rvx"), OutputCheck::kCannotCreate);
    }
}
