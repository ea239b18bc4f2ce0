// What the movie source reports and keeps beyond its pictures: their places
// in time, their display rotation and interlacing, the chosen sound track,
// and pictures sampled across the movie.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/memory_host.h"
#include "common/temp_dir.h"
#include "common/test_movies.h"
#include "container/rvx_reader.h"
#include "jobs/encode_from_directshow.h"
#include "jobs/job_messages.h"
#include "jobs/movie_render_surface.h"
#include "jobs/movie_sample_pictures.h"
#include "jobs/sound_tracks.h"
#include "recording_writer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct MovieHost : MemoryHost {
    MovieHost(const std::string& movie, const std::string& output) : request(StartUpRequest(movie, output)) {}
    EncodeRequest request;
};

// The job with its sampling open to the tests.
class SamplingJob : public CEncodeFromDirectShow {
public:
    using CEncodeFromDirectShow::CEncodeFromDirectShow;
    using CEncodeFromDirectShow::SamplePictures;
};

// The test pattern for a time (a count of output frames would cut the sound
// streams of the same file short).
std::string Pattern(int width, int height, double seconds) {
    return "-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) +
           ":rate=25:duration=" + std::to_string(seconds);
}

// The first line of the ffmpeg program's answer to a probe.
std::string Probe(const std::string& arguments) {
    const std::string command = "ffprobe -v error " + arguments;
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        if (fgets(buffer, sizeof buffer, pipe)) text = buffer;
        pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// The checksum of every frame the recording writer received.
std::vector<std::string> RecordedFrames(const std::string& record) {
    std::vector<std::string> frames;
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("frame ", 0) == 0) frames.push_back(line.substr(6, line.find(' ', 6) - 6));
    return frames;
}

// Keeps the pictures the job hands over (top-down rows, 4 bytes a pixel),
// for comparing them with what another decoder shows.
class PictureKeeper : public IMovieWriter {
public:
    static inline uint32_t width = 0, height = 0;
    static inline std::vector<std::vector<uint8_t>> pictures;
    static std::unique_ptr<IMovieWriter> Create() {
        pictures.clear();
        return std::make_unique<PictureKeeper>();
    }
    void SetFrameRate(uint32_t, uint32_t) override {}
    void SetGopStructure(uint16_t, uint16_t) override {}
    void SetSceneChange(uint16_t) override {}
    void SetQuality(const uint16_t*) override {}
    void SetPicture(uint32_t w, uint32_t h, uint32_t) override {
        width = w;
        height = h;
    }
    void SetWorkDirectory(const std::string&) override {}
    void SetFramePrefix(const std::string&) override {}
    bool Open() override { return true; }
    bool AddFrame(const void* picture) override {
        const uint8_t* p = static_cast<const uint8_t*>(picture);
        pictures.emplace_back(p, p + size_t{width} * height * 4);
        return true;
    }
    bool FinishFrames() override { return true; }
    bool StageSound(const std::string&, uint32_t, uint32_t) override { return true; }
    bool WriteMovie(const std::string& output) override { return static_cast<bool>(std::ofstream(output) << "kept"); }
};

// Peak signal to noise of the colour channels of two BGRx pictures.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
        ++count;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * count / sum);
}

class MovieSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveFfmpegProgram()) GTEST_SKIP() << "the ffmpeg program is not installed (scripts/setup)";
    }

    // Loads the movie, runs it into the recording writer and returns the
    // frames it received.
    std::vector<std::string> RecordMovie(const std::string& movie) {
        MovieHost host(movie, movie + ".txt");
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        job->SetWriterFactory(&RecordingWriter::Create);
        EXPECT_EQ(job->Load(), kJobOk) << job->FailureReason();
        EXPECT_EQ(job->Start(), 1);
        EXPECT_EQ(host.WaitForJobEnd(30s), MSG_JOB_DONE) << job->FailureReason();
        return RecordedFrames(movie + ".txt");
    }

    // Loads the host's job and runs it to its end into the writer; empty
    // when it finished, else why not.
    static std::string RunJob(MovieHost& host, MovieWriterFactory writer = &CreateRVXMovieWriter) {
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        job->SetWriterFactory(writer);
        if (job->Load() != kJobOk) return "not loaded: " + job->FailureReason();
        if (job->Start() != 1) return "not started";
        if (host.WaitForJobEnd(60s) != MSG_JOB_DONE) return "failed: " + job->FailureReason();
        return "";
    }

    TempDir dir_{"movie-source"};
};

// Source picture numbers frame by frame: `first` to `last`, or one picture
// repeated.
void AppendRun(std::vector<int>& pictures, int first, int last) {
    for (int p = first; p <= last; ++p) pictures.push_back(p);
}
void AppendRepeat(std::vector<int>& pictures, int picture, int times) { pictures.insert(pictures.end(), times, picture); }

struct TimingCase {
    const char* name;
    const char* filter;  // how the 25 fps pattern's pictures are timed (in ms for the irregular ones)
    const char* output_options;
    const char* sound;  // a tone's length in seconds, or empty for none
    int pictures;
    std::vector<int> expected;  // the source picture at each frame
};

TEST_F(MovieSourceTest, PicturesStandAtTheFramesOfTheirTimeStampsAndTheMovieKeepsItsLength) {
    std::vector<int> gap;  // pictures 20 to 29 missing: 19 stands for them
    AppendRun(gap, 0, 19);
    AppendRepeat(gap, 19, 10);
    AppendRun(gap, 30, 49);
    // Forty ms apart, then 120 ms (each picture held three frames), then
    // 20 ms (every other picture falls on a frame already filled).
    std::vector<int> irregular;
    AppendRun(irregular, 0, 9);
    for (int p = 10; p <= 14; ++p) AppendRepeat(irregular, p, 3);
    irregular.push_back(15);
    for (int p = 16; p <= 34; p += 2) irregular.push_back(p);
    const TimingCase cases[] = {
        {"gap.mp4", "select='not(between(n\\,20\\,29))'", "", "", 50, gap},
        {"irregular.mkv",
         "settb=1/1000,setpts='if(lt(N\\,10)\\,N*40\\,if(lt(N\\,15)\\,400+(N-10)*120\\,1005+(N-15)*20))'",
         " -enc_time_base 1/1000", "", 35, irregular},
        {"steady.mp4", "null", "", "", 30, {}},
        // Sound half a second longer than the pictures adds no frame: the
        // stream tells its last picture's length.
        {"long sound.mkv", "null", " -c:a aac", "2.5", 50, {}},
    };
    for (const TimingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string movie = dir_ / c.name;
        const std::string tone = *c.sound ? ToneInput(std::stod(c.sound)) + " " : std::string();
        ASSERT_TRUE(RunFfmpeg(tone + Pattern(160, 120, c.pictures / 25.0) + " -vf \"" + c.filter +
                              "\" -fps_mode passthrough" + c.output_options + " -c:v libx264 -pix_fmt yuv420p " +
                              ShellQuoted(movie)));
        const double seconds = std::stod(Probe("-show_entries format=duration -of csv=p=0 " + ShellQuoted(movie)));
        const std::vector<std::string> frames = RecordMovie(movie);
        if (*c.sound)
            EXPECT_EQ(frames.size(), size_t(c.pictures));
        else
            EXPECT_NEAR(double(frames.size()), seconds * 25, 1.0) << seconds;

        std::vector<int> expected = c.expected;
        if (expected.empty()) AppendRun(expected, 0, c.pictures - 1);
        ASSERT_GE(frames.size(), expected.size());
        // A frame repeats the one before exactly when the same picture stands
        // at both; the pattern moves, so any other two differ.
        for (size_t f = 1; f < expected.size(); ++f)
            EXPECT_EQ(frames[f] == frames[f - 1], expected[f] == expected[f - 1]) << "frame " << f;
        for (size_t f = expected.size(); f < frames.size(); ++f)
            EXPECT_EQ(frames[f], frames[expected.size() - 1]) << "filled frame " << f;
    }
}

TEST_F(MovieSourceTest, StreamsJoinedEndToEndKeepBothPartsAndNoGuessedLength) {
    // The second part's clock starts again, or jumps by 1000 s; the length
    // the framework guesses for the jumping one is about 17 minutes.
    const std::string first = dir_ / "first.ts";
    ASSERT_TRUE(RunFfmpeg(Pattern(160, 120, 1) + " -c:v mpeg2video -f mpegts " + ShellQuoted(first)));
    for (const char* offset : {"0", "1000"}) {
        SCOPED_TRACE(offset);
        const std::string second = dir_ / (std::string("second") + offset + ".ts");
        const std::string joined = dir_ / (std::string("joined") + offset + ".ts");
        ASSERT_TRUE(RunFfmpeg(Pattern(160, 120, 1) + " -output_ts_offset " + offset + " -c:v mpeg2video -f mpegts " +
                              ShellQuoted(second)));
        {
            std::ofstream out(joined, std::ios::binary);
            out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
        }
        const std::vector<std::string> frames = RecordMovie(joined);
        // Both parts' pictures, with at most a second's gap between them.
        EXPECT_GE(frames.size(), 50u);
        EXPECT_LE(frames.size(), 75u);
    }
}

TEST_F(MovieSourceTest, AMovieWithAGapIsCodedAtItsLengthWithItsSoundInStep) {
    const std::string movie = dir_ / "gap.mp4", output = dir_ / "gap.rvx";
    ASSERT_TRUE(RunFfmpeg(ToneInput(3) + " " + Pattern(160, 120, 3) +
                          " -vf \"select='not(between(n\\,30\\,59))'\" -fps_mode passthrough -c:v libx264"
                          " -pix_fmt yuv420p -c:a aac " + ShellQuoted(movie)));
    // Once at fixed qualities, once in two passes aiming at a rate: the
    // second pass places its pictures as the first did.
    for (const uint64_t rate : {uint64_t{0}, uint64_t{300000}}) {
        SCOPED_TRACE(rate);
        MovieHost host(movie, output);
        host.request.settings.target_bits_per_second = rate;
        host.request.settings.source.audio_track = 1;
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        EXPECT_NEAR(double(job->TotalFrames()), 75.0, 1.0);  // not the 45 pictures the stream holds
        ASSERT_EQ(job->Start(), 1);
        ASSERT_EQ(host.WaitForJobEnd(60s), MSG_JOB_DONE) << job->FailureReason();
        job.reset();
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        EXPECT_TRUE(reader.Verify());
        EXPECT_NEAR(double(reader.FrameCount()), 75.0, 1.0);
        ASSERT_TRUE(reader.HasSound());
        const double sound_seconds = double(_snxlib_::SNXSampleFrames(reader.Sound())) / reader.Sound().sample_rate;
        EXPECT_NEAR(sound_seconds, reader.FrameCount() / 25.0, 0.06);
        fs::remove(output);
    }
}

struct FactsCase {
    const char* name;
    const char* making;  // arguments after the pattern input
    SourcePictureFacts facts;
};

TEST_F(MovieSourceTest, DisplayRotationAndInterlacingAreReportedAsAPlayerFollowsThem) {
    // The ffmpeg program's rotate tag turns the picture counter-clockwise
    // (its own player turns a "rotate=90" movie by 270 degrees clockwise).
    const std::string plain = dir_ / "plain.mp4";
    ASSERT_TRUE(RunFfmpeg(PatternInput(320, 240, "25", 10) + " -c:v libx264 -pix_fmt yuv420p " + ShellQuoted(plain)));
    const std::string interlaced = " -c:v mpeg2video -flags +ilme+ildct -f mpegts ";
    const FactsCase cases[] = {
        {"rot90.mp4", "rotate=90", {270, false, false, true}},
        {"rot180.mp4", "rotate=180", {180, false, false, true}},
        {"rot270.mp4", "rotate=270", {90, false, false, true}},
        {"upright.mp4", "", {0, false, false, true}},
        {"top.ts", "-top 1", {0, false, true, true}},
        {"bottom.ts", "-top 0", {0, false, true, false}},
        {"progressive.ts", "progressive", {0, false, false, true}},
    };
    for (const FactsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string movie = dir_ / c.name;
        const std::string making = c.making;
        if (making.rfind("rotate=", 0) == 0) {
            ASSERT_TRUE(RunFfmpeg("-i " + ShellQuoted(plain) + " -c copy -metadata:s:v:0 " + making + " " +
                                  ShellQuoted(movie)));
            EXPECT_NE(Probe("-show_entries stream_side_data=rotation -of csv=p=0 " + ShellQuoted(movie)), "");
        } else if (making.empty()) {
            fs::copy_file(plain, movie);
        } else {
            ASSERT_TRUE(RunFfmpeg(PatternInput(176, 144, "25", 8) +
                                  (making == "progressive" ? std::string(" -c:v mpeg2video -f mpegts ")
                                                           : interlaced + making + " ") +
                                  ShellQuoted(movie)));
        }
        MovieHost host(movie, movie + ".rvx");
        auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
        ASSERT_EQ(job->Load(), kJobOk) << job->FailureReason();
        const SourcePictureFacts facts = job->PictureFacts();
        EXPECT_EQ(facts.rotation, c.facts.rotation);
        EXPECT_EQ(facts.mirrored, c.facts.mirrored);
        EXPECT_EQ(facts.interlaced, c.facts.interlaced);
        EXPECT_EQ(facts.top_field_first, c.facts.top_field_first);
    }
}

// The picture after turning it clockwise and then mirroring it, as the
// facts describe (4 bytes a pixel).
std::vector<uint8_t> Turned(const std::vector<uint8_t>& picture, uint32_t width, uint32_t height,
                            const SourcePictureFacts& facts) {
    const bool sideways = facts.rotation % 180 != 0;
    const uint32_t w = sideways ? height : width, h = sideways ? width : height;
    std::vector<uint8_t> out(picture.size());
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t tx = facts.mirrored ? w - 1 - x : x;  // the mirror comes last
            uint32_t sx = tx, sy = y;
            if (facts.rotation == 90) sx = y, sy = height - 1 - tx;
            if (facts.rotation == 180) sx = width - 1 - tx, sy = height - 1 - y;
            if (facts.rotation == 270) sx = width - 1 - y, sy = tx;
            std::copy_n(&picture[(size_t{sy} * width + sx) * 4], 4, &out[(size_t{y} * w + x) * 4]);
        }
    }
    return out;
}

TEST_F(MovieSourceTest, OrientationTagsMeanWhatTheFrameworksOwnFlipMakesOfThem) {
    // GStreamer's videoflip turns a picture by its tag as a player does; the
    // facts read from the same tag must describe the same picture.
    const std::string source = dir_ / "upright.raw";
    const std::string caps = "video/x-raw,format=BGRx,width=64,height=48";
    const auto gst = [&](const std::string& middle, const std::string& out) {
        return std::system(("gst-launch-1.0 -q videotestsrc num-buffers=1 pattern=smpte ! " + caps + " ! " + middle +
                            "filesink location=" + ShellQuoted(out))
                               .c_str()) == 0;
    };
    ASSERT_TRUE(gst("", source));
    std::ifstream in(source, std::ios::binary);
    const std::vector<uint8_t> upright{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(upright.size(), 64u * 48 * 4);
    for (const char* tag : {"rotate-0", "rotate-90", "rotate-180", "rotate-270", "flip-rotate-0", "flip-rotate-90",
                            "flip-rotate-180", "flip-rotate-270"}) {
        SCOPED_TRACE(tag);
        const std::string shown = dir_ / (std::string(tag) + ".raw");
        ASSERT_TRUE(gst(std::string("taginject tags=\"image-orientation=") + tag +
                            "\" ! videoflip video-direction=auto ! ",
                        shown));
        std::ifstream shown_in(shown, std::ios::binary);
        const std::vector<uint8_t> expected{std::istreambuf_iterator<char>(shown_in), {}};
        SourcePictureFacts facts;
        ASSERT_TRUE(ReadImageOrientation(tag, facts));
        EXPECT_TRUE(Turned(upright, 64, 48, facts) == expected);
    }
    SourcePictureFacts facts{90, true, false, true};
    for (const char* unknown : {"rotate-45", "flip-", "", "rotate-90x"}) EXPECT_FALSE(ReadImageOrientation(unknown, facts));
    EXPECT_FALSE(ReadImageOrientation(nullptr, facts));
    EXPECT_EQ(facts, (SourcePictureFacts{90, true, false, true}));
}

TEST_F(MovieSourceTest, ARotatedMovieIsCodedTurnedAsTheFfmpegProgramShowsIt) {
    const std::string plain = dir_ / "plain.mp4", turned = dir_ / "turned.mp4", shown = dir_ / "shown.bgra";
    ASSERT_TRUE(RunFfmpeg(Pattern(320, 240, 0.4) + " -c:v libx264 -pix_fmt yuv420p -qp 10 " + ShellQuoted(plain)));
    ASSERT_TRUE(RunFfmpeg("-i " + ShellQuoted(plain) + " -c copy -metadata:s:v:0 rotate=90 " + ShellQuoted(turned)));
    ASSERT_TRUE(RunFfmpeg("-i " + ShellQuoted(turned) + " -f rawvideo -pix_fmt bgr0 " + ShellQuoted(shown)));
    MovieHost host(turned, dir_ / "turned.txt");
    ASSERT_EQ(RunJob(host, &PictureKeeper::Create), "");
    EXPECT_EQ(PictureKeeper::width, 240u);
    EXPECT_EQ(PictureKeeper::height, 320u);
    ASSERT_EQ(PictureKeeper::pictures.size(), 10u);
    std::ifstream in(shown, std::ios::binary);
    for (size_t i = 0; i < PictureKeeper::pictures.size(); ++i) {
        std::vector<uint8_t> reference(240 * 320 * 4);
        ASSERT_TRUE(in.read(reinterpret_cast<char*>(reference.data()), std::streamsize(reference.size())));
        // The two decoders convert colours a little differently; a picture
        // turned the wrong way lies far below this.
        EXPECT_GT(Psnr(PictureKeeper::pictures[i], reference), 30.0) << "picture " << i;
    }
}

TEST_F(MovieSourceTest, APartOfTheMovieEndsDecodingAfterItAndKeepsItsSound) {
    // Two program streams back to back; the second one's larger pictures
    // would fail a job that decoded that far.
    const std::string first = dir_ / "first.mpg", second = dir_ / "second.mpg", joined = dir_ / "joined.mpg";
    ASSERT_TRUE(RunFfmpeg(ToneInput(3) + " " + Pattern(160, 120, 3) + " -c:v mpeg2video -c:a mp2 -f mpeg " +
                          ShellQuoted(first)));
    ASSERT_TRUE(RunFfmpeg(ToneInput(1) + " " + Pattern(320, 240, 1) + " -c:v mpeg2video -c:a mp2 -f mpeg " +
                          ShellQuoted(second)));
    {
        std::ofstream out(joined, std::ios::binary);
        out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
    }
    const std::string output = dir_ / "part.rvx";
    MovieHost host(joined, output);
    host.request.settings.source.start = {SourceTime::Unit::kMicroseconds, 500000};
    host.request.settings.source.duration = {SourceTime::Unit::kFrames, 25};
    ASSERT_EQ(RunJob(host), "");
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(output));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 25u);
    EXPECT_EQ(reader.Width(), 160u);
    ASSERT_TRUE(reader.HasSound());
    EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())) / reader.Sound().sample_rate, 1.0, 0.06);
}

TEST_F(MovieSourceTest, TheChosenSoundTrackIsCodedAndATrackBeyondTheListIsRefused) {
    // English sounds for one second, Japanese for 1.6 s, so the coded
    // sound's length tells which track was taken.
    const std::string movie = dir_ / "two tracks.mkv";
    ASSERT_TRUE(RunFfmpeg(ToneInput(1.0) + " -f lavfi -i sine=frequency=880:sample_rate=48000:duration=1.6 " +
                          Pattern(160, 120, 2) +
                          " -map 2:v -map 0:a -map 1:a -c:v libx264 -pix_fmt yuv420p -c:a libvorbis"
                          " -metadata:s:a:0 language=eng -metadata:s:a:1 language=jpn " + ShellQuoted(movie)));
    const std::vector<SoundTrackInfo> tracks = MovieSoundTracks(movie);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].language, "en");
    EXPECT_EQ(tracks[1].language, "ja");
    EXPECT_NE(tracks[0].description.find("Vorbis"), std::string::npos) << tracks[0].description;
    EXPECT_NE(tracks[0].description.find("44.1 kHz"), std::string::npos) << tracks[0].description;
    EXPECT_NE(tracks[1].description.find("48 kHz"), std::string::npos) << tracks[1].description;
    EXPECT_NE(tracks[1].description.find("1 channel"), std::string::npos) << tracks[1].description;
    EXPECT_TRUE(MovieSoundTracks(dir_ / "missing.mkv").empty());

    const struct {
        uint16_t track;
        uint32_t sample_rate;
        double seconds;
    } cases[] = {{0, 44100, 1.0}, {1, 44100, 1.0}, {2, 48000, 1.6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.track);
        const std::string output = dir_ / ("track" + std::to_string(c.track) + ".rvx");
        MovieHost host(movie, output);
        host.request.settings.source.audio_track = c.track;
        ASSERT_EQ(RunJob(host), "");
        CRVXReader reader;
        ASSERT_TRUE(reader.Open(output));
        ASSERT_TRUE(reader.HasSound());
        EXPECT_EQ(reader.Sound().sample_rate, c.sample_rate);
        EXPECT_NEAR(double(_snxlib_::SNXSampleFrames(reader.Sound())) / c.sample_rate, c.seconds, 0.06);
    }

    MovieHost host(movie, dir_ / "track3.rvx");
    host.request.settings.source.audio_track = 3;
    auto job = std::make_unique<CEncodeFromDirectShow>(&host, host.request);
    EXPECT_EQ(job->Load(), kJobFail);
    EXPECT_TRUE(job->SettingsRefused());
    EXPECT_NE(job->FailureReason().find("has no sound track 3; it has 2"), std::string::npos) << job->FailureReason();
    EXPECT_TRUE(job->WorkDirectory().empty());
}

TEST_F(MovieSourceTest, SampledPicturesSpreadOverTheMovieShowItsBlackBorders) {
    // 160x120 pictures with 16 black rows above and below.
    const std::string movie = dir_ / "borders.mp4";
    ASSERT_TRUE(RunFfmpeg(Pattern(160, 88, 4) +
                          " -vf pad=160:120:0:16:black -c:v libx264 -pix_fmt yuv420p " + ShellQuoted(movie)));
    MovieHost host(movie, dir_ / "borders.rvx");
    SamplingJob job(&host, host.request);
    ASSERT_EQ(job.Load(), kJobOk) << job.FailureReason();
    const std::vector<std::vector<uint8_t>> pictures = job.SamplePictures(4);
    ASSERT_EQ(pictures.size(), 4u);
    auto row_brightness = [](const std::vector<uint8_t>& picture, uint32_t y) {
        uint32_t most = 0;
        for (uint32_t x = 0; x < 160 * 4; ++x)
            if (x % 4 != 3) most = std::max<uint32_t>(most, picture[y * 160 * 4 + x]);
        return most;
    };
    for (const auto& picture : pictures) {
        ASSERT_EQ(picture.size(), 160u * 120 * 4);
        EXPECT_LT(row_brightness(picture, 2), 24u);
        EXPECT_LT(row_brightness(picture, 117), 24u);
        EXPECT_GT(row_brightness(picture, 60), 100u);
    }
    EXPECT_NE(pictures[0], pictures[3]);  // from different places in the movie

    // The job crops what its samples show to be border.
    MovieHost cropping(movie, dir_ / "cropped.txt");
    cropping.request.settings.source.crop = CropMode::kAuto;
    ASSERT_EQ(RunJob(cropping, &PictureKeeper::Create), "");
    EXPECT_EQ(PictureKeeper::width, 160u);
    EXPECT_EQ(PictureKeeper::height, 88u);

    // A bare stream tells no length to seek in; a file of noise does not open.
    const std::string bare = dir_ / "bare.h264";
    ASSERT_TRUE(RunFfmpeg(PatternInput(160, 120, "25", 10) + " -c:v libx264 -f h264 " + ShellQuoted(bare)));
    const std::string noise = dir_ / "noise.mp4";
    std::ofstream(noise) << std::string(5000, 'x');
    for (const std::string& path : {bare, noise, std::string(dir_ / "missing.mp4")}) {
        SCOPED_TRACE(path);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(SampleMoviePictures(path, kLayoutRGB32, 160, 120, 4, 5s).empty());
        EXPECT_LT(std::chrono::steady_clock::now() - started, 12s);
    }
}

}  // namespace
