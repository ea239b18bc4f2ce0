#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "common/temp_dir.h"
#include "support/cpu_features.h"
#include "support/stdio_file.h"

namespace fs = std::filesystem;

TEST(StdioFile, CloseReportsWritesThatNeverArrived) {
    StdioFile full("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full here";
    std::fputs("more than nothing", full.get());
    EXPECT_FALSE(full.Close());
    EXPECT_FALSE(full.Close());  // nothing left to close

    TempDir dir;
    const fs::path path = dir / "ok";
    StdioFile file(path, "wb");
    ASSERT_TRUE(file);
    std::fputs("abc", file.get());
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(fs::file_size(path), 3u);
}

// Offsets past 2 GiB and 4 GiB, on a sparse file that costs no disk space.
TEST(StdioFile, OffsetsBeyondThirtyTwoBits) {
    TempDir dir;
    const fs::path path = dir / "large";
    {
        StdioFile file(path, "wb");
        ASSERT_TRUE(file);
        ASSERT_EQ(ftruncate(fileno(file.get()), (int64_t(5) << 30) + 7), 0);
        EXPECT_EQ(file.Length(), (int64_t(5) << 30) + 7);
        ASSERT_TRUE(file.Seek(int64_t(3) << 30, SEEK_SET));
        EXPECT_EQ(file.Tell(), int64_t(3) << 30);
        std::fputc('x', file.get());
        EXPECT_EQ(TellFile(file.get()), (int64_t(3) << 30) + 1);
        EXPECT_TRUE(file.Close());
    }
    StdioFile moved(path, "rb");
    StdioFile owner = std::move(moved);
    EXPECT_FALSE(moved);
    ASSERT_TRUE(SeekFile(owner.get(), int64_t(3) << 30, SEEK_SET));
    EXPECT_EQ(std::fgetc(owner.get()), 'x');
    owner = StdioFile();
}

TEST(CpuFeatures, LevelsCapTheFeatureWord) {
    const uint32_t all = kCpuCmov | kCpuMmx | kCpuSse | kCpuSse2 | kCpuAvx2 | kCpuAvx512;
    EXPECT_EQ(CapFeatures(all, CpuLevel::kPortable), 0u);
    EXPECT_EQ(CapFeatures(all, CpuLevel::kSse2), all & ~uint32_t(kCpuAvx2 | kCpuAvx512));
    EXPECT_EQ(CapFeatures(all, CpuLevel::kAvx2), all & ~uint32_t(kCpuAvx512));
    EXPECT_EQ(CapFeatures(all, CpuLevel::kAvx512), all);
    // Each cap lands exactly on its own level, never above or below it.
    for (CpuLevel level : {CpuLevel::kPortable, CpuLevel::kSse2, CpuLevel::kAvx2, CpuLevel::kAvx512})
        EXPECT_EQ(FeatureLevel(CapFeatures(all, level)), level) << CpuLevelName(level);
    EXPECT_EQ(FeatureLevel(0), CpuLevel::kPortable);
    // Wider routines are only chosen on top of the narrower ones.
    EXPECT_EQ(FeatureLevel(kCpuAvx2), CpuLevel::kPortable);
    EXPECT_EQ(FeatureLevel(kCpuSse2 | kCpuAvx512), CpuLevel::kSse2);
    EXPECT_EQ(FeatureLevel(kCpuAvx512), CpuLevel::kPortable);
    for (CpuLevel level : {CpuLevel::kPortable, CpuLevel::kSse2, CpuLevel::kAvx2, CpuLevel::kAvx512}) {
        CpuLevel parsed;
        ASSERT_TRUE(ParseCpuLevel(CpuLevelName(level), &parsed));
        EXPECT_EQ(parsed, level);
    }
    CpuLevel parsed;
    EXPECT_FALSE(ParseCpuLevel("sse3", &parsed));
    EXPECT_FALSE(ParseCpuLevel("avx512f", &parsed));
    // The environment may lower the level, never raise it.
    EXPECT_EQ(ProcessorFeatures() & ~DetectedProcessorFeatures(), 0u);
    // The detector never reports AVX-512 without the AVX2 it builds on.
    const uint32_t detected = DetectedProcessorFeatures();
    if (detected & kCpuAvx512) {
        EXPECT_NE(detected & kCpuAvx2, 0u);
    }
}
