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
