// Damaged and cut movies: a frame whose CRC fails is skipped with a warning,
// the whole part of a cut movie plays with a warning, a movie whose layout
// is refused ends with an error message, and the pipeline always comes to an
// end.

#include <sys/wait.h>

#include <fstream>
#include <random>

#include "container/rvx_reader.h"
#include "gst/gst_harness.h"
#include "gst/reference_decode.h"
#include "gst/test_movies.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

TEST(GstDamage, FrameWithBadCrcIsSkippedWithAWarning) {
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path));
    // The first P frame: the B frames after it in coding order predict from it.
    std::size_t damaged = 0;
    while (_rvxlib_::RecordType(reader.Frames()[damaged].type) != _rvxlib_::kRecordP) ++damaged;
    const RVXFrameInfo frame = reader.Frames()[damaged];
    reader.Close();
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes[frame.record_offset + rvx_layout::kFrameRecordSize + frame.payload_length / 2] ^= 0x5A;
    TempDir dir("gst-damage");
    const std::string broken = dir / "crc.rvx";
    WriteBytes(broken, bytes);
    for (bool push : {false, true}) {
        Pipeline pipeline(DecodePipeline(broken, push, true));
        const PipelineRun run = pipeline.Play();
        ASSERT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
        ASSERT_EQ(run.warnings.size(), 1u);
        EXPECT_NE(run.warnings.front().find("damaged"), std::string::npos) << run.warnings.front();
        ASSERT_EQ(run.video.size(), reference.pictures.size() - 1);
        // Every other picture is shown at its time; the group's I frame,
        // which needs nothing from the damaged frame, is untouched.
        for (std::size_t i = 0; i < run.video.size(); ++i) {
            const uint32_t n = uint32_t(i) + (i >= frame.display_number ? 1 : 0);
            EXPECT_EQ(run.video[i].pts, FrameTimeOf(reference, n));
        }
        EXPECT_TRUE(run.video[0].bytes == reference.pictures[0]);
        EXPECT_TRUE(run.AllAudio() == reference.sound);
    }
}

TEST(GstDamage, RefusedLayoutsEndWithAnErrorMessage) {
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    const std::vector<uint8_t> intact = ReadBytes(path);
    const struct {
        const char* what;
        std::size_t keep;         // bytes kept from the start
        std::size_t poke_at;      // a byte changed there (0: none)
    } cases[] = {
        {"empty", 0, 0},
        {"inside the header", 100, 0},
        {"after the index", 288 + 24 * 2, 0},
        {"a damaged magic", intact.size(), 3},
        {"a damaged width", intact.size(), 125},
        {"a damaged group index", intact.size(), 288 + 4},
    };
    TempDir dir("gst-cut");
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(intact.begin(), intact.begin() + std::ptrdiff_t(c.keep));
        if (c.poke_at) bytes[c.poke_at] ^= 0x71;
        const std::string broken = dir / "broken.rvx";
        WriteBytes(broken, bytes);
        for (bool push : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (push ? " push" : " pull"));
            Pipeline pipeline(DecodePipeline(broken, push, true));
            const PipelineRun run = pipeline.Play(std::chrono::seconds(20));
            EXPECT_FALSE(run.timed_out);
            ASSERT_FALSE(run.errors.empty());
            EXPECT_TRUE(run.video.empty());
        }
    }
}

// A cut movie plays every picture and sound block that is whole, a padded
// one all of itself, each with a warning and no error.
TEST(GstDamage, IntactPartOfACutOrPaddedMoviePlaysWithAWarning) {
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    const std::vector<uint8_t> intact = ReadBytes(path);
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path));
    const std::size_t sound = std::size_t(reader.SoundOffset());
    reader.Close();
    const struct {
        const char* what;
        std::size_t keep;         // bytes kept from the start, junk appended beyond
        std::size_t poke_at;      // a byte changed there (0: none)
        bool all_pictures;
        bool sound;               // some sound plays
    } cases[] = {
        {"half of it", intact.size() / 2, 0, false, false},
        {"one byte short", intact.size() - 1, 0, true, true},
        {"padded", intact.size() + 33, 0, true, true},
        {"a damaged sound header", intact.size(), sound + 1, true, false},
    };
    TempDir dir("gst-intact");
    for (const auto& c : cases) {
        std::vector<uint8_t> bytes(intact.begin(), intact.begin() + std::ptrdiff_t(std::min(c.keep, intact.size())));
        bytes.resize(c.keep, 0xA5);
        if (c.poke_at) bytes[c.poke_at] ^= 0x71;
        const std::string broken = dir / "broken.rvx";
        WriteBytes(broken, bytes);
        for (bool push : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (push ? " push" : " pull"));
            Pipeline pipeline(DecodePipeline(broken, push, c.sound));
            const PipelineRun run = pipeline.Play(std::chrono::seconds(20));
            ASSERT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
            EXPECT_FALSE(run.warnings.empty());
            ASSERT_FALSE(run.video.empty());
            EXPECT_EQ(run.video.size() == reference.pictures.size(), c.all_pictures);
            for (const Sample& picture : run.video) {
                const uint64_t n = picture.pts * reference.rate_num / (reference.rate_den * 1000000000ull);
                ASSERT_LT(n, reference.pictures.size());
                EXPECT_TRUE(picture.bytes == reference.pictures[n]) << n;
            }
            if (!c.sound) continue;
            const std::vector<uint8_t> played = run.AllAudio();
            ASSERT_FALSE(played.empty());
            ASSERT_LE(played.size(), reference.sound.size());
            EXPECT_TRUE(std::equal(played.begin(), played.end(), reference.sound.begin()));
        }
    }
}

// A movie refused at its header ends every pipeline with an error, however
// the demuxer's task and the pipeline's state changes interleave: through
// decodebin, which drops the errors of an element it is still trying out,
// and through gst-launch, which stops at an error only once its main loop
// runs. Each run is a gst-launch process stopped after 10 seconds at most.
TEST(GstDamage, RefusedHeadersNeverLeaveAPipelinePrerolling) {
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    InitGstreamer();
    const std::vector<uint8_t> intact = ReadBytes(path);
    std::vector<uint8_t> garbage = intact;
    std::mt19937 random(33);
    for (std::size_t i = sizeof rvx_layout::kMagic; i < rvx_layout::kHeaderSize; ++i) garbage[i] = uint8_t(random());
    const uint32_t groups = LoadLE32(&intact[rvx_layout::kOffsetGroupCount]);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"cut in the header", {intact.begin(), intact.begin() + 200}},
        {"cut in the first record", {intact.begin(), intact.begin() + 288 + 24 * groups + 6}},
        {"garbage header", garbage},
    };
    TempDir dir("gst-hangs");
    constexpr int kRunsEach = 8;
    for (const auto& c : cases) {
        const std::string movie = dir / "refused.rvx";
        WriteBytes(movie, c.bytes);
        for (const std::string& pipeline : {"filesrc location=" + movie + " ! decodebin ! fakesink",
                                           "playbin uri=file://" + movie + " video-sink=fakesink audio-sink=fakesink"}) {
            SCOPED_TRACE(std::string(c.what) + ": " + pipeline);
            for (int run = 0; run < kRunsEach; ++run) {
                const int status = std::system(("timeout 10 gst-launch-1.0 -q " + pipeline + " >/dev/null 2>&1").c_str());
                ASSERT_TRUE(WIFEXITED(status));
                // gst-launch exits 1 after an error; timeout exits 124.
                ASSERT_EQ(WEXITSTATUS(status), 1) << "run " << run;
            }
        }
    }
}
