// The interface's promises checked in-process: seeking, decoding ahead on a
// worker, the three ways in, planes, sound positions, damage and hostile
// bytes, and the exported names.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "container/rvx_layout.h"
#include "librvx/movie_maker.h"
#include "rvx/rvx.h"
#include "snxlib/snx_format.h"

namespace {

using namespace rvx_layout;

struct Movie {
    RvxMovie* m = nullptr;
    ~Movie() { rvx_close(&m); }
};

RvxSettings Threads(int threads, int strict = 0) {
    RvxSettings s;
    rvx_default_settings(&s);
    s.threads = threads;
    s.strict = strict;
    return s;
}

// Every picture (R, G, B, A) and every read status until the end.
std::vector<std::vector<uint8_t>> ReadAll(RvxMovie* m, std::vector<int>* statuses = nullptr) {
    RvxInfo info;
    rvx_get_info(m, &info);
    std::vector<std::vector<uint8_t>> pictures;
    for (;;) {
        std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
        const int status = rvx_read_picture(m, rgba.data(), info.width * 4);
        if (statuses) statuses->push_back(status);
        if (status == RVX_END || (status < 0 && status != RVX_ERROR_DAMAGED)) return pictures;
        pictures.push_back(std::move(rgba));
    }
}

class LibraryApi : public ::testing::Test {
protected:
    void SetUp() override {
        MovieShape shape{kPictureAYUV4422, kTransformWordDct};
        shape.frames = 23;
        shape.p_frames = 2;
        shape.b_frames = 2;
        shape.sound_mode = _snxlib_::kModeMDCTMid;
        ASSERT_TRUE(MakeMovie(shape, dir_.path(), movie_));
        bytes_ = FileBytes(movie_);
        Movie file;
        ASSERT_EQ(rvx_open_file(&file.m, movie_.c_str(), nullptr), 0);
        sequential_ = ReadAll(file.m);
        ASSERT_EQ(sequential_.size(), 23u);
    }

    TempDir dir_{"api"};
    std::string movie_ = dir_ / "m.rvx";
    std::vector<uint8_t> bytes_;
    std::vector<std::vector<uint8_t>> sequential_;
};

TEST_F(LibraryApi, SeeksLandOnTheRightPictureWithAndWithoutTheWorker) {
    for (int threads : {1, 0, 3}) {
        Movie movie;
        const RvxSettings settings = Threads(threads);
        ASSERT_EQ(rvx_open_memory(&movie.m, bytes_.data(), bytes_.size(), &settings), 0);
        EXPECT_EQ(ReadAll(movie.m), sequential_) << threads << " threads";
        std::vector<uint8_t> rgba(40 * 26 * 4);
        for (int64_t target : {22, 0, 13, 14, 1, 8, 8, 21}) {
            ASSERT_EQ(rvx_seek(movie.m, target), 0);
            ASSERT_EQ(rvx_read_picture(movie.m, rgba.data(), 40 * 4), 0);
            RvxPictureInfo picture;
            ASSERT_EQ(rvx_get_picture_info(movie.m, &picture), 0);
            EXPECT_EQ(picture.frame, target);
            EXPECT_EQ(picture.time_us, target * 1001 * 1000000 / 30000);
            EXPECT_EQ(rgba, sequential_[size_t(target)]) << "seek to " << target;
        }
        EXPECT_EQ(rvx_seek(movie.m, 23), 0);
        EXPECT_EQ(rvx_read_picture(movie.m, rgba.data(), 40 * 4), RVX_END);
        EXPECT_EQ(rvx_seek(movie.m, 24), RVX_ERROR_ARGUMENT);
    }
}

TEST_F(LibraryApi, CallbacksGiveWhatTheFileGivesAndSeeOnlyReadsInside) {
    struct Bytes {
        const std::vector<uint8_t>* data;
        bool outside = false;
    } bytes{&bytes_};
    RvxCallbacks callbacks{&bytes, int64_t(bytes_.size()), [](void* opaque, int64_t offset, void* out, size_t n) {
                               auto* b = static_cast<Bytes*>(opaque);
                               if (offset < 0 || size_t(offset) + n > b->data->size()) b->outside = true;
                               if (b->outside) return -1;
                               std::memcpy(out, b->data->data() + offset, n);
                               return 0;
                           }};
    Movie movie;
    ASSERT_EQ(rvx_open_callbacks(&movie.m, &callbacks, nullptr), 0);
    EXPECT_EQ(ReadAll(movie.m), sequential_);
    EXPECT_EQ(rvx_verify(movie.m), 0);
    EXPECT_FALSE(bytes.outside);
}

TEST_F(LibraryApi, PlanesHoldTheColoursOfAnRgbMovieAndItsAlpha) {
    ASSERT_TRUE(MakeMovie(MovieShape{kPictureARGB8888, kTransformWordDiff2D}, dir_.path(), dir_ / "rgb.rvx"));
    Movie rgba_movie, plane_movie;
    ASSERT_EQ(rvx_open_file(&rgba_movie.m, (dir_ / "rgb.rvx").c_str(), nullptr), 0);
    ASSERT_EQ(rvx_open_file(&plane_movie.m, (dir_ / "rgb.rvx").c_str(), nullptr), 0);
    EXPECT_EQ(rvx_plane_colours(plane_movie.m), RVX_PLANES_RGB);
    for (const std::vector<uint8_t>& rgba : ReadAll(rgba_movie.m)) {
        std::vector<uint8_t> planes(4 * 40 * 26);
        RvxPlanes p = {{&planes[0], &planes[1040], &planes[2080], &planes[3120]}, {40, 40, 40, 40}};
        ASSERT_EQ(rvx_read_planes(plane_movie.m, &p), 0);
        for (size_t i = 0; i < 40 * 26; ++i) {
            for (size_t c = 0; c < 4; ++c) ASSERT_EQ(planes[c * 1040 + i], rgba[4 * i + c]) << i << " " << c;
        }
    }
}

TEST_F(LibraryApi, SoundSeeksGiveTheSamplesOfAWholeRead) {
    Movie movie;
    ASSERT_EQ(rvx_open_file(&movie.m, movie_.c_str(), nullptr), 0);
    std::vector<int16_t> all(2 * 6000);
    ASSERT_EQ(rvx_read_sound(movie.m, all.data(), 6000), 5000);
    EXPECT_EQ(rvx_read_sound(movie.m, all.data() + 10000, 1000), 0);
    for (int64_t at : {4999, 0, 256, 255, 1000, 4000, 5000}) {
        ASSERT_EQ(rvx_seek_sound(movie.m, at), 0);
        std::vector<int16_t> tail(2 * 6000);
        ASSERT_EQ(rvx_read_sound(movie.m, tail.data(), 6000), 5000 - at) << at;
        EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 2 * (5000 - at), all.begin() + 2 * at)) << at;
    }
    EXPECT_EQ(rvx_seek_sound(movie.m, 5001), RVX_ERROR_ARGUMENT);
}

TEST_F(LibraryApi, StrictMoviesReportADamagedPictureAndStillGiveIt) {
    // A byte in the middle of the frame section's last payload.
    std::vector<uint8_t> damaged = bytes_;
    const uint64_t section = LoadLE64(&damaged[kOffsetFirstGroup]) + LoadLE64(&damaged[kOffsetFrameSectionLength]);
    damaged[section - 20] ^= 0x5A;
    for (int strict : {1, 0}) {
        Movie movie;
        const RvxSettings settings = Threads(1, strict);
        ASSERT_EQ(rvx_open_memory(&movie.m, damaged.data(), damaged.size(), &settings), 0);
        EXPECT_EQ(rvx_verify(movie.m), RVX_ERROR_DAMAGED);
        std::vector<int> statuses;
        EXPECT_EQ(ReadAll(movie.m, &statuses).size(), 23u);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), RVX_ERROR_DAMAGED), strict ? 1 : 0);
    }
}

TEST_F(LibraryApi, ACutMoviePlaysItsWholePicturesAndSoundUnlessStrict) {
    std::vector<int16_t> all(2 * 5000);
    Movie whole;
    ASSERT_EQ(rvx_open_file(&whole.m, movie_.c_str(), nullptr), 0);
    ASSERT_EQ(rvx_read_sound(whole.m, all.data(), 5000), 5000);
    std::vector<uint8_t> appended = bytes_;
    appended.insert(appended.end(), 1000, 0xEE);
    for (size_t percent : {90, 50, 110}) {
        std::vector<uint8_t> bytes = appended;
        bytes.resize(std::min(bytes.size(), bytes_.size() * percent / 100));
        Movie strict, movie;
        const RvxSettings settings = Threads(1, 1);
        EXPECT_EQ(rvx_open_memory(&strict.m, bytes.data(), bytes.size(), &settings), RVX_ERROR_DAMAGED);
        ASSERT_EQ(rvx_open_memory(&movie.m, bytes.data(), bytes.size(), nullptr), 0) << percent;
        RvxInfo info;
        rvx_get_info(movie.m, &info);
        std::vector<uint8_t> rgba(40 * 26 * 4);
        int64_t pictures = 0;
        for (RvxPictureInfo p; rvx_read_picture(movie.m, rgba.data(), 40 * 4) == 0; ++pictures) {
            ASSERT_EQ(rvx_get_picture_info(movie.m, &p), 0);
            EXPECT_EQ(rgba, sequential_[size_t(p.frame)]) << percent << "% picture " << p.frame;
        }
        std::vector<int16_t> sound(2 * 5000);
        int64_t got = 0;
        for (int64_t n; (n = rvx_read_sound(movie.m, &sound[size_t(2 * got)], 5000 - got)) > 0;) got += n;
        EXPECT_TRUE(std::equal(sound.begin(), sound.begin() + 2 * got, all.begin())) << percent;
        EXPECT_EQ(pictures, percent > 100 ? 23 : info.frames) << percent;
        EXPECT_EQ(got == 5000, percent > 100) << percent;
    }
}

TEST(LibraryInput, BadBytesGiveNegativeErrorsNeverACrash) {
    TempDir dir("bad");
    ASSERT_TRUE(MakeMovie(MovieShape{kPictureYUV411, kTransformWordDct}, dir.path(), dir / "m.rvx"));
    const std::vector<uint8_t> good = FileBytes(dir / "m.rvx");
    auto patched = [&](uint32_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = good;
        StoreLE32(&bytes[offset], value);
        return bytes;
    };
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 2654435761u >> 13);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        int open;
    } cases[] = {
        {"empty", {}, RVX_ERROR_NOT_RVX},
        {"half a header", std::vector<uint8_t>(good.begin(), good.begin() + 150), RVX_ERROR_NOT_RVX},
        {"garbage", garbage, RVX_ERROR_NOT_RVX},
        {"cut in the frames", std::vector<uint8_t>(good.begin(), good.end() - good.size() / 3), RVX_ERROR_DAMAGED},
        {"huge width", patched(kOffsetWidth, 0x7FFFFFF0), RVX_ERROR_DAMAGED},
        {"zero height", patched(kOffsetHeight, 0), RVX_ERROR_DAMAGED},
        {"absurd frame count", patched(kOffsetRecordCount, 0xFFFFFFFF), RVX_ERROR_DAMAGED},
        {"absurd group count", patched(kOffsetGroupCount, 0x40000000), RVX_ERROR_DAMAGED},
    };
    for (const auto& c : cases) {
        Movie movie;
        const RvxSettings strict = Threads(1, 1);
        EXPECT_EQ(rvx_open_memory(&movie.m, c.bytes.data(), c.bytes.size(), &strict), c.open) << c.what;
        EXPECT_EQ(movie.m, nullptr) << c.what;
    }
    Movie missing;
    EXPECT_EQ(rvx_open_file(&missing.m, (dir / "missing.rvx").c_str(), nullptr), RVX_ERROR_OPEN);
    EXPECT_EQ(rvx_open_file(&missing.m, nullptr, nullptr), RVX_ERROR_ARGUMENT);
    Movie movie;
    ASSERT_EQ(rvx_open_memory(&movie.m, good.data(), good.size(), nullptr), 0);
    uint8_t small[40 * 4];
    EXPECT_EQ(rvx_read_picture(movie.m, small, 39 * 4), RVX_ERROR_ARGUMENT);
    EXPECT_EQ(rvx_read_picture(movie.m, nullptr, 40 * 4), RVX_ERROR_ARGUMENT);
    int16_t pcm[2];
    EXPECT_EQ(rvx_read_sound(movie.m, pcm, 1), RVX_ERROR_NO_SOUND);
    RvxPictureInfo picture;
    EXPECT_EQ(rvx_get_picture_info(movie.m, &picture), RVX_ERROR_ARGUMENT);
    for (int code = -10; code <= 2; ++code) EXPECT_NE(rvx_error_text(code), nullptr);
}

TEST(LibraryAbi, ExportsExactlyTheCheckedInNames) {
    const ProgramResult names = RunCommand("nm -D --defined-only " + std::string(RVX_BINARY_DIR) +
                                           "/librvx/librvx.so.1 | awk '{print $3}' | LC_ALL=C sort");
    ASSERT_EQ(names.exit_code, 0);
    const std::vector<uint8_t> expected = FileBytes(std::string(RVX_SOURCE_DIR) + "/librvx/rvx.symbols");
    EXPECT_EQ(names.output, std::string(expected.begin(), expected.end()));
}

}  // namespace
