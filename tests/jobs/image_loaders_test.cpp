#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "jobs/image_loaders.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

namespace {

// Image n "decodes" to a pointer into this array, so the taker can tell
// which image it was handed.
uint8_t g_pictures[128];
std::atomic<int> g_released{0};

void CountRelease(ImageSlot&) { ++g_released; }

// A run whose loads take their time in an order unlike the numbers; an
// image may be unusable or run out of memory.
struct FakeRun {
    uint64_t unusable = 0;
    uint64_t out_of_memory = 0;
    std::mutex mutex;
    std::multiset<uint64_t> loaded;  // with pixels

    CImageLoaders::LoadImage Loader() {
        return [this](ImageSlot&, uint64_t n) {
            std::this_thread::sleep_for(std::chrono::milliseconds((n * 7) % 3));
            if (n == out_of_memory) throw std::bad_alloc();
            LoadedFrame frame;
            if (n == unusable) {
                frame.failure = "unusable";
                return frame;
            }
            std::lock_guard<std::mutex> hold(mutex);
            loaded.insert(n);
            frame.pixels = &g_pictures[n];
            return frame;
        };
    }
};

// Takes images 1, 2, ... until one is unusable, a stop after `stop_after`,
// or the end; returns how many were taken with pixels.
int TakeInOrder(CImageLoaders& loaders, uint64_t end, uint64_t stop_after) {
    int taken = 0;
    for (uint64_t n = 1; n < end && n <= stop_after; ++n) {
        auto [slot, frame] = loaders.Take(n);
        EXPECT_TRUE(frame.pixels == nullptr || frame.pixels == &g_pictures[n]) << n;
        if (!frame.pixels) break;
        CountRelease(*slot);
        ++taken;
        loaders.GiveBack(slot);
    }
    return taken;
}

}  // namespace

// Whatever the encoding stops at, every picture a loader decoded is released
// once: by the taker, or by the loaders when they are stopped. No number is
// handed out after an unusable image beyond what the free slots allowed.
TEST(ImageLoaders, TakeInNumberOrderAndReleaseWhatIsLeft) {
    struct Case {
        uint64_t end, unusable, stop_after;
        int want_taken;
    } cases[] = {{40, 0, 100, 39}, {40, 0, 3, 3}, {100, 6, 100, 5}, {40, 1, 100, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unusable);
        std::vector<ImageSlot> slots(3);
        FakeRun run;
        run.unusable = c.unusable;
        g_released = 0;
        int taken = 0;
        {
            CImageLoaders loaders(1, c.end, run.Loader(), &CountRelease);
            loaders.Start({&slots[0], &slots[1], &slots[2]});
            taken = TakeInOrder(loaders, c.end, c.stop_after);
        }
        EXPECT_EQ(taken, c.want_taken);
        EXPECT_EQ(g_released.load(), int(run.loaded.size()));
        for (uint64_t n : run.loaded) EXPECT_EQ(run.loaded.count(n), 1u) << n;
        if (c.unusable && !run.loaded.empty()) {
            EXPECT_LE(*run.loaded.rbegin(), c.unusable + slots.size() - 1);
        }
    }
}

TEST(ImageLoaders, ThePictureDecodedBeforeTheStartIsTakenFirst) {
    std::vector<ImageSlot> slots(2);
    FakeRun run;
    g_released = 0;
    CImageLoaders loaders(5, 9, run.Loader(), &CountRelease);
    LoadedFrame first;
    first.pixels = &g_pictures[5];
    loaders.PutFirst(slots[0], first);
    loaders.Start({&slots[1]});
    for (uint64_t n = 5; n < 9; ++n) {
        auto [slot, frame] = loaders.Take(n);
        EXPECT_EQ(frame.pixels, &g_pictures[n]);
        if (n == 5) {
            EXPECT_EQ(slot, &slots[0]);
        }
        loaders.GiveBack(slot);
    }
    EXPECT_EQ(run.loaded, (std::multiset<uint64_t>{6, 7, 8}));
}

// Running out of memory on a loader thread reaches the taker as bad_alloc,
// never later than at the image that could not be had.
TEST(ImageLoaders, OutOfMemoryOnALoaderReachesTheTaker) {
    std::vector<ImageSlot> slots(4);
    FakeRun run;
    run.out_of_memory = 7;
    g_released = 0;
    uint64_t thrown_at = 0;
    {
        CImageLoaders loaders(1, 30, run.Loader(), &CountRelease);
        loaders.Start({&slots[0], &slots[1], &slots[2], &slots[3]});
        try {
            for (uint64_t n = 1; n < 30; ++n) {
                auto [slot, frame] = loaders.Take(n);
                thrown_at = n + 1;
                CountRelease(*slot);
                loaders.GiveBack(slot);
            }
        } catch (const std::bad_alloc&) {
        }
    }
    EXPECT_GE(thrown_at, 1u);
    EXPECT_LE(thrown_at, 7u);
    EXPECT_EQ(g_released.load(), int(run.loaded.size()));
}
