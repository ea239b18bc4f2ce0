#include <gtest/gtest.h>

#include "app/progress_text.h"

TEST(ProgressText, RemainingTimeOnlyOnceThePaceIsKnown) {
    EXPECT_EQ(RemainingTimeText(10.0, 0.5, 2), "");  // too few frames to judge
    EXPECT_EQ(RemainingTimeText(10.0, 0.25, 3), "残り 0:30");
    EXPECT_EQ(RemainingTimeText(100.0, 0.025, 10), "残り 1:05:00");
    EXPECT_EQ(RemainingTimeText(10.0, 0.0, 10), "");  // no frames done: no estimate, no division by zero
    EXPECT_EQ(RemainingTimeText(10.0, 1.0, 10), "");  // sound and output steps report 1.0
}

TEST(ProgressText, TitlePercentIsTruncatedAndBounded) {
    EXPECT_EQ(TitleWithPercent("RVX Encoder", 0.999), "99% - RVX Encoder");
    EXPECT_EQ(TitleWithPercent("RVX Encoder", 1.5), "100% - RVX Encoder");
    EXPECT_EQ(TitleWithPercent("RVX Encoder", -1.0), "0% - RVX Encoder");
}

// The status line's words for every stage, byte for byte as the window and
// the terminal show them.
TEST(ProgressText, StatusTextForEveryStage) {
    const std::pair<JobProgress, const char*> cases[] = {
        {{JobStage::kFrames, 1, 300, "clip.avi"}, "clip.aviをエンコード中... 1/300"},
        {{JobStage::kFrames, 7, 0, "/動画 100%/コマ7.png"}, "/動画 100%/コマ7.pngをエンコード中... 7/0"},
        {{JobStage::kSound, 0, 0, "/tmp/music.wav"}, "/tmp/music.wavをエンコード中..."},
        {{JobStage::kWriting, 0, 0, "/out/movie.rvx"}, "/out/movie.rvxを出力中..."},
        {{JobStage::kLoad, 0, 0, "/in/clip.mkv"}, "/in/clip.mkv"},
    };
    for (const auto& [progress, text] : cases) EXPECT_EQ(ProgressStatusText(progress), text);
}
