#include <gtest/gtest.h>

#include "support/cpu_features.h"
#include "video_codec_fixture.h"

using namespace rvx_test;

namespace {

void AddFrames(Encoder& e, const Source& src, int count, int scene_from = 1 << 30) {
    for (int n = 0; n < count; ++n) {
        const auto frame = src.Frame(n, 1.5, 0.5, n >= scene_from ? 1 : 0);
        ASSERT_TRUE(e.coder.AddFrame(frame.data())) << n;
    }
}

}  // namespace

TEST(GroupPlan, SixteenFramesWithTwoBFramesCodeInReferenceOrder) {
    Encoder e(48, 32, 0x2003, 5, 2, 256);
    ASSERT_TRUE(e.open_ok);
    AddFrames(e, Source{48, 32, false}, 17);
    ASSERT_TRUE(e.coder.FinishFrames());
    const auto& groups = e.sink.groups;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].first_frame, 0u);
    EXPECT_EQ(groups[0].record_count, 16u);
    EXPECT_EQ(groups[1].first_frame, 16u);
    EXPECT_EQ(groups[1].record_count, 1u);

    const uint32_t positions[16] = {0, 3, 1, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11, 15, 13, 14};
    const auto& records = e.sink.records;
    ASSERT_EQ(records.size(), 17u);
    for (int i = 0; i < 16; ++i) {
        const uint32_t type = records[i].type;
        const uint32_t pos = positions[i];
        ASSERT_EQ(RecordPosition(type), pos) << i;
        if (pos == 0) {
            EXPECT_EQ(type, kRecordI);
        } else if (pos % 3 == 0) {
            EXPECT_EQ(type, kRecordP | pos | 3u << 16) << i;
        } else {
            // Distances to the references on either side add up to 3.
            const uint32_t back = pos % 3;
            EXPECT_EQ(type, kRecordB | pos | back << 16 | (3 - back) << 28) << i;
        }
        EXPECT_EQ(records[i].length, 0u);
        EXPECT_EQ(records[i].crc, 0u);
    }
    EXPECT_EQ(records[16].type, kRecordI);
    // Every frame's payload was handed over under its display number; kinds
    // match the records.
    EXPECT_EQ(e.sink.payloads.size(), 17u);
    for (uint32_t n = 0; n < 17; ++n) EXPECT_FALSE(e.sink.payloads[n].empty()) << n;
    EXPECT_EQ(e.kinds[3], uint32_t(kFrameKindP));
    EXPECT_EQ(e.kinds[4], uint32_t(kFrameKindB));
    EXPECT_FALSE(e.coder.HasFailed());
}

TEST(GroupPlan, ShortMovieEndsOnAPFrameNotAB) {
    Encoder e(32, 32, 0x2003, 5, 2, 256);
    ASSERT_TRUE(e.open_ok);
    AddFrames(e, Source{32, 32, false}, 5);
    ASSERT_TRUE(e.coder.FinishFrames());
    const auto plan = Plan(e.sink.records, 0, e.sink.records.size());
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0, kRecordI}, {3, kRecordP}, {1, kRecordB}, {2, kRecordB}, {4, kRecordP}};
    EXPECT_EQ(plan, expected);
    EXPECT_EQ(e.sink.records[4].type, kRecordP | 4 | 1u << 16);

    // Finishing again neither re-codes nor repeats the group.
    EXPECT_TRUE(e.coder.FinishFrames());
    EXPECT_EQ(e.sink.records.size(), 5u);
    EXPECT_EQ(e.sink.groups.size(), 1u);
    EXPECT_FALSE(e.coder.AddFrame(Source{32, 32, false}.Frame(5).data()));
}

TEST(GroupPlan, SceneValueZeroAndGopLengthOneGiveAGroupPerFrame) {
    for (const auto& [p, b, scene] : {std::tuple<uint16_t, uint16_t, uint16_t>{5, 2, 0}, {0, 0, 192}}) {
        Encoder e(32, 16, 0x2003, p, b, scene);
        ASSERT_TRUE(e.open_ok);
        AddFrames(e, Source{32, 16, false}, 6);
        ASSERT_TRUE(e.coder.FinishFrames());
        ASSERT_EQ(e.sink.groups.size(), 6u);
        for (uint32_t g = 0; g < 6; ++g) {
            EXPECT_EQ(e.sink.groups[g].first_frame, g);
            EXPECT_EQ(e.sink.groups[g].record_count, 1u);
            EXPECT_EQ(e.sink.records[g].type, kRecordI);
        }
    }
}

TEST(GroupPlan, NewContentStartsAGroupAndMovingContentDoesNot) {
    // The last macroblock column and row always count as matched, so the
    // picture must be large enough for 3/4 of its macroblocks to differ.
    Encoder e(160, 160, 0x2003, 5, 2, 192);
    ASSERT_TRUE(e.open_ok);
    AddFrames(e, Source{160, 160, false}, 9, 5);
    ASSERT_TRUE(e.coder.FinishFrames());
    ASSERT_EQ(e.sink.groups.size(), 2u);
    EXPECT_EQ(e.sink.groups[1].first_frame, 5u);
    EXPECT_EQ(e.sink.groups[0].record_count, 5u);
}

TEST(GroupCoder, RefusesUnusableSetUpsAndNotesFailedFrames) {
    Encoder e(32, 32, 0x2003, 5, 2, 192);
    ASSERT_TRUE(e.open_ok);
    EXPECT_FALSE(e.coder.FinishFrames());

    RVXGroupSettings settings = e.coder.Settings();
    RVXCodecSet set = e.codec.Set();
    ASSERT_TRUE(e.coder.Open(set, settings, 0, &e.sink));
    e.sink.refuse = true;
    const auto frame = Source{32, 32, false}.Frame(0);
    EXPECT_TRUE(e.coder.AddFrame(frame.data()));
    EXPECT_TRUE(e.coder.HasFailed());
    EXPECT_FALSE(e.coder.Open(RVXCodecSet{}, settings, 0, &e.sink));
    EXPECT_FALSE(e.coder.Open(set, settings, 0, nullptr));
    // A moving block made for another picture size is refused.
    CRVXMovingBlockUnSigned other(64, 32, true);
    set.moving = &other;
    EXPECT_FALSE(e.coder.Open(set, settings, 0, &e.sink));
}

TEST(GroupCoder, MovingPicturesArePredicted) {
    Encoder e(160, 128, 0x2003, 5, 2, 192);
    ASSERT_TRUE(e.open_ok);
    Source src{160, 128, false};
    AddFrames(e, src, 4);
    ASSERT_TRUE(e.coder.FinishFrames());
    // The P frame (display 3) costs much less than the I frame.
    const auto i_size = e.sink.payloads[0].size();
    const auto p_size = e.sink.payloads[3].size();
    EXPECT_LT(p_size * 2, i_size);
}

TEST(GroupCoder, FastRoutinesWriteTheSamePayloads) {
    const uint32_t features = ProcessorFeatures();
    if (features == 0) GTEST_SKIP() << "only the portable routines here";
    for (uint32_t format : {0x2043u, 0x1001u}) {
        Encoder portable(80, 64, format, 2, 2, 192, 0);
        Encoder fast(80, 64, format, 2, 2, 192, features);
        ASSERT_TRUE(portable.open_ok && fast.open_ok);
        Source src{80, 64, true};
        for (int n = 0; n < 8; ++n) {
            const auto frame = src.Frame(n, 2.5, -1.5);
            portable.coder.AddFrame(frame.data());
            fast.coder.AddFrame(frame.data());
        }
        ASSERT_TRUE(portable.coder.FinishFrames());
        ASSERT_TRUE(fast.coder.FinishFrames());
        for (uint32_t n = 0; n < 8; ++n)
            EXPECT_TRUE(portable.sink.payloads[n] == fast.sink.payloads[n]) << "format " << format << " frame " << n;
    }
}

TEST(GroupCoder, OpenRefusesSettingsNoFileCouldCarry) {
    Encoder e(32, 32, 0x2003, 5, 2, 192);
    ASSERT_TRUE(e.open_ok);
    const RVXGroupSettings good = e.coder.Settings();
    const std::pair<const char*, void (*)(RVXGroupSettings&)> cases[] = {
        {"I quality below 2", [](RVXGroupSettings& s) { s.quality_i = 1; }},
        {"P quality above 32", [](RVXGroupSettings& s) { s.quality_p = 33; }},
        {"B quality 0", [](RVXGroupSettings& s) { s.quality_b = 0; }},
        {"scene change above 256", [](RVXGroupSettings& s) { s.scene_change = 257; }},
        {"8 B frames", [](RVXGroupSettings& s) { s.b_count = 8; }},
        {"empty group", [](RVXGroupSettings& s) { s.gop_length = 0; }},
        {"group beyond 63 P and 7 B", [](RVXGroupSettings& s) { s.gop_length = 506; }},
    };
    for (const auto& [name, spoil] : cases) {
        RVXGroupSettings bad = good;
        spoil(bad);
        EXPECT_FALSE(e.coder.Open(e.codec.Set(), bad, 0, &e.sink)) << name;
    }
    EXPECT_TRUE(e.coder.Open(e.codec.Set(), good, 0, &e.sink));
}

// A group that fails leaves a hole in the movie wherever it was coded: it
// never reaches the sink, and finishing reports it even when the groups
// after it coded well.
TEST(GroupCoder, AnEarlierGroupThatFailedFailsTheFinish) {
    for (uint32_t threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        Encoder e(32, 32, 0x2003, 1, 1, 256);
        ASSERT_TRUE(e.open_ok);
        e.coder.SetThreads(threads, [&](RVXCodingLane& lane) { return MakeCodingLane(e.plan, 0, &lane); });
        e.sink.refuse_frame = 2;  // the P frame of the first group (frames 0..2)
        AddFrames(e, Source{32, 32, false}, 9);
        EXPECT_FALSE(e.coder.FinishFrames());
        EXPECT_TRUE(e.coder.HasFailed());
        std::vector<uint32_t> firsts;
        for (const auto& group : e.sink.groups) firsts.push_back(group.first_frame);
        EXPECT_EQ(firsts, (std::vector<uint32_t>{3, 6}));
    }
}
