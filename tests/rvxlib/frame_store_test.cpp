#include <gtest/gtest.h>

#include <set>

#include "rvxlib/encoder/frame_store.h"

using namespace _rvxlib_;

TEST(FrameStore, ReportsEveryLookupFailureWithItsCode) {
    CRVXEncodeFrame store(32, 16, 4);
    ASSERT_EQ(store.Init(0), kFrameStoreOk);
    uint8_t* picture = nullptr;
    EXPECT_EQ(store.GetFramePicture(0, &picture), kFrameStoreEmpty);
    EXPECT_EQ(store.ReleaseFrame(0), kFrameStoreEmpty);

    for (int i = 0; i < 3; ++i) ASSERT_EQ(store.AcquireFrame(&picture), kFrameStoreOk);
    EXPECT_EQ(store.GetFramePicture(3, &picture), kFrameNotStored);
    EXPECT_EQ(store.SetFrameKind(7, kFrameKindI, kNoReference, kNoReference), kFrameNotStored);

    ASSERT_EQ(store.SetFrameKind(0, kFrameKindI, kNoReference, kNoReference), kFrameStoreOk);
    ASSERT_EQ(store.SetFrameKind(1, kFrameKindB, 0, 2), kFrameStoreOk);
    EXPECT_EQ(store.GetReferencePicture(1, 2, &picture), kReferenceIsBFrame);
    EXPECT_EQ(store.GetReferencePicture(0, 2, &picture), kFrameStoreOk);
    EXPECT_EQ(store.GetReferencePicture(0, 4, &picture), kReferenceTooFar);
    EXPECT_EQ(store.GetReferencePicture(4, 0, &picture), kReferenceTooFar);

    RVXFrameKind kind = kFrameUncoded;
    uint16_t v1 = 0, v2 = 0;
    ASSERT_EQ(store.GetFrameKind(1, &kind, &v1, &v2), kFrameStoreOk);
    EXPECT_EQ(kind, uint32_t(kFrameKindB));
    EXPECT_EQ(v1, 0);
    EXPECT_EQ(v2, 2);
    EXPECT_EQ(store.GetFrameKind(2, nullptr, nullptr, nullptr), kFrameStoreOk);
}

TEST(FrameStore, NumbersFramesFromTheBaseAndRefusesAFullRing) {
    CRVXEncodeFrame store(16, 16, 2);  // entry ring of 8, room for 7
    store.ResetStore(100);
    uint8_t* picture = nullptr;
    for (int i = 0; i < 7; ++i) ASSERT_EQ(store.AcquireFrame(&picture), kFrameStoreOk) << i;
    EXPECT_EQ(store.AcquireFrame(&picture), kFrameStoreFull);
    EXPECT_EQ(store.GetFramePicture(99, &picture), kFrameRecycled);
    EXPECT_EQ(store.GetFramePicture(106, &picture), kFrameStoreOk);
    EXPECT_EQ(store.GetFramePicture(107, &picture), kFrameNotStored);
}

TEST(FrameStore, RecyclesOnlyBehindTheLastGopLengthOfCodedFrames) {
    const uint32_t L = 3;
    CRVXEncodeFrame store(16, 16, L);
    store.Init(0);
    std::set<uint8_t*> seen;
    uint8_t* picture = nullptr;
    for (uint32_t n = 0; n < 5; ++n) {
        ASSERT_EQ(store.AcquireFrame(&picture), kFrameStoreOk);
        seen.insert(picture);
    }
    // Frames 0..3 coded and released, 4 still uncoded.
    for (uint32_t n = 0; n < 4; ++n) {
        store.SetFrameKind(n, n ? kFrameKindP : kFrameKindI, 0, kNoReference);
        store.ReleaseFrame(n);
    }
    // Four coded frames lay before the first uncoded one; the oldest go
    // until fewer than L remain.
    EXPECT_EQ(store.GetFramePicture(1, &picture), kFrameRecycled);
    EXPECT_EQ(store.GetFramePicture(2, &picture), kFrameStoreOk);
    EXPECT_EQ(store.BaseFrame(), 2u);

    // A frame still referenced (count above 0) stops recycling at the head.
    CRVXEncodeFrame held(16, 16, 1);
    held.Init(0);
    held.AcquireFrame(&picture);
    held.AcquireFrame(&picture);
    held.AcquireFrame(&picture);
    held.SetFrameKind(0, kFrameKindI, kNoReference, kNoReference);
    held.SetFrameKind(1, kFrameKindI, kNoReference, kNoReference);
    held.ReleaseFrame(1);
    EXPECT_EQ(held.GetFramePicture(0, &picture), kFrameStoreOk);
    held.ReleaseFrame(0);
    EXPECT_EQ(held.GetFramePicture(0, &picture), kFrameRecycled);

    // Recycled pictures come back instead of new allocations.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(store.AcquireFrame(&picture), kFrameStoreOk);
        EXPECT_TRUE(seen.count(picture)) << i;
    }
}

TEST(FrameStore, ResetStartsAgainFromTheGivenNumber) {
    CRVXEncodeFrame store(16, 16, 2);
    store.Init(0);
    uint8_t* picture = nullptr;
    store.AcquireFrame(&picture);
    store.AcquireFrame(&picture);
    store.ResetStore(40);
    EXPECT_EQ(store.FrameCount(), 0u);
    EXPECT_EQ(store.GetFramePicture(40, &picture), kFrameStoreEmpty);
    ASSERT_EQ(store.AcquireFrame(&picture), kFrameStoreOk);
    EXPECT_EQ(store.GetFramePicture(40, &picture), kFrameStoreOk);
    store.CloseStore();
    EXPECT_EQ(store.AcquireFrame(&picture), kFrameStoreFull);
}

TEST(FrameStore, AbsurdPictureSizeIsOutOfMemoryNotACrash) {
    CRVXEncodeFrame store(0xFFFFFFF0u, 0xFFFFFFF0u, 1);
    store.Init(0);
    uint8_t* picture = nullptr;
    EXPECT_EQ(store.AcquireFrame(&picture), kFrameStoreOutOfMemory);
}
