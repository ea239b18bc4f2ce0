// The plug-in against rvxdec: the same pictures and sound, byte for byte,
// whichever way the demuxer is fed.

#include <gst/base/gsttypefindhelper.h>
#include <gst/pbutils/pbutils.h>

#include <fstream>

#include "gst/gst_harness.h"
#include "gst/reference_decode.h"
#include "gst/test_movies.h"

namespace {

void ExpectSameAsRvxdec(const MovieRecipe& recipe, bool push) {
    SCOPED_TRACE(recipe.Name() + (push ? " push" : " pull"));
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    Pipeline pipeline(DecodePipeline(path, push, recipe.sound));
    const PipelineRun run = pipeline.Play();
    ASSERT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
    EXPECT_TRUE(run.warnings.empty());
    const bool alpha = recipe.picture_format[0] == 'A';
    EXPECT_NE(run.video_caps.find(alpha ? "format=(string)BGRA" : "format=(string)BGRx"), std::string::npos)
        << run.video_caps;
    ASSERT_EQ(run.video.size(), reference.pictures.size());
    for (std::size_t n = 0; n < run.video.size(); ++n) {
        EXPECT_EQ(run.video[n].pts, FrameTimeOf(reference, n)) << "picture " << n;
        EXPECT_TRUE(run.video[n].bytes == reference.pictures[n]) << "picture " << n << " differs";
    }
    if (recipe.sound) {
        EXPECT_TRUE(run.AllAudio() == reference.sound)
            << "sound differs: " << run.AllAudio().size() << " bytes against " << reference.sound.size();
        ASSERT_FALSE(run.audio.empty());
        EXPECT_EQ(run.audio.front().pts, 0u);
    }
}

}  // namespace

TEST(GstPlayback, EveryPictureFormatTransformAndSizeShowsWhatRvxdecShows) {
    // Sizes that are no whole number of macroblocks as well as whole ones.
    const struct {
        const char* format;
        const char* transform;
        bool sound;
        const char* method;
        uint32_t width, height;
    } movies[] = {
        {"YUV411", "DCT", true, "MDCT-Low", 64, 48},    {"YUV422", "DCT", false, "", 37, 23},
        {"YUV444", "Diff2D", true, "MDCT-Mid", 64, 48}, {"RGB888", "DCT(NoDEF)", false, "", 50, 30},
        {"ARGB8888", "DCT", true, "MDCT-High", 64, 48}, {"AYUV4444", "Diff2D", false, "", 17, 9},
        {"AYUV4422", "DCT", true, "RawFile", 64, 48},   {"AYUV4411", "DCT(NoDEF)", true, "MDCT-Low", 70, 42},
    };
    for (const auto& movie : movies) {
        MovieRecipe recipe;
        recipe.picture_format = movie.format;
        recipe.transform = movie.transform;
        recipe.sound = movie.sound;
        recipe.sound_method = movie.method;
        recipe.width = movie.width;
        recipe.height = movie.height;
        ExpectSameAsRvxdec(recipe, false);
    }
}

TEST(GstPlayback, PushModeGivesWhatPullModeGives) {
    MovieRecipe with_sound;
    ExpectSameAsRvxdec(with_sound, true);
    MovieRecipe without_b_frames;
    without_b_frames.sound = false;
    without_b_frames.b_frames = 0;
    without_b_frames.p_frames = 4;
    ExpectSameAsRvxdec(without_b_frames, true);
}

TEST(GstPlayback, AnyNumberOfThreadsShowsTheSamePictures) {
    MovieRecipe recipe;
    recipe.frames = 40;  // six groups: more than the lanes, so each lane decodes several
    recipe.sound = false;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    for (int threads : {1, 2, 3, 7}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        Pipeline pipeline(DecodePipeline(path, false, false, "rvxvideodec threads=" + std::to_string(threads)));
        const PipelineRun run = pipeline.Play();
        ASSERT_TRUE(run.eos);
        ASSERT_EQ(run.video.size(), reference.pictures.size());
        for (std::size_t n = 0; n < run.video.size(); ++n) {
            EXPECT_EQ(run.video[n].pts, FrameTimeOf(reference, n));
            EXPECT_TRUE(run.video[n].bytes == reference.pictures[n]) << "picture " << n;
        }
    }
}

TEST(GstPlayback, SoundEqualsTheWaveFileRvxdecWrites) {
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    TempDir dir("gst-wave");
    const std::string wave = dir / "sound.wav";
    ASSERT_EQ(RunCommand(kRvxdecProgram + " '" + path + "' --wav '" + wave + "'").exit_code, 0);
    std::ifstream in(wave, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), _snxlib_::kWaveHeaderSize);
    bytes.erase(bytes.begin(), bytes.begin() + _snxlib_::kWaveHeaderSize);
    Pipeline pipeline(DecodePipeline(path, false, true));
    const PipelineRun run = pipeline.Play();
    ASSERT_TRUE(run.eos);
    EXPECT_TRUE(run.AllAudio() == bytes);
}

TEST(GstPlayback, TypeFinderNamesMoviesByMagicAndExtension) {
    InitGstreamer();
    MovieRecipe recipe;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    TempDir dir("gst-typefind");
    const std::string other = dir / "other.rvx";
    std::ofstream(other, std::ios::binary) << "RIFF....AVI LIST, not a movie of ours, but long enough to be probed";
    const struct {
        std::string path;
        bool movie;
    } files[] = {{path, true}, {other, false}};
    for (const auto& file : files) {
        GError* error = nullptr;
        gchar* uri = gst_filename_to_uri(file.path.c_str(), &error);
        ASSERT_TRUE(uri);
        GstElement* source = gst_element_make_from_uri(GST_URI_SRC, uri, nullptr, nullptr);
        g_free(uri);
        ASSERT_TRUE(source);
        gst_element_set_state(source, GST_STATE_PAUSED);
        GstPad* pad = gst_element_get_static_pad(source, "src");
        GstCaps* caps = gst_type_find_helper(pad, 0);
        const bool named = caps && gst_structure_has_name(gst_caps_get_structure(caps, 0), "video/x-rvx");
        EXPECT_EQ(named, file.movie) << file.path;
        if (caps) gst_caps_unref(caps);
        gst_object_unref(pad);
        gst_element_set_state(source, GST_STATE_NULL);
        gst_object_unref(source);
    }
    // The extension is the hint that puts the finder first for .rvx files.
    GstTypeFindFactory* factory = GST_TYPE_FIND_FACTORY(
        gst_registry_find_feature(gst_registry_get(), "video/x-rvx", GST_TYPE_TYPE_FIND_FACTORY));
    ASSERT_TRUE(factory);
    const gchar* const* extensions = gst_type_find_factory_get_extensions(factory);
    ASSERT_TRUE(extensions && extensions[0]);
    EXPECT_STREQ(extensions[0], "rvx");
    gst_object_unref(factory);
}

TEST(GstPlayback, DecodebinPicksTheElementsOnItsOwn) {
    MovieRecipe recipe;
    recipe.picture_format = "ARGB8888";
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    ReferenceMovie reference;
    ASSERT_TRUE(DecodeReference(path, &reference));
    Pipeline pipeline("uridecodebin uri=file://" + path +
                      " name=d d. ! queue ! video/x-raw ! appsink name=video d. ! queue ! audio/x-raw ! appsink name=audio");
    const PipelineRun run = pipeline.Play();
    ASSERT_TRUE(run.eos) << (run.errors.empty() ? "timed out" : run.errors.front());
    ASSERT_EQ(run.video.size(), reference.pictures.size());
    EXPECT_TRUE(run.video.back().bytes == reference.pictures.back());
    EXPECT_TRUE(run.AllAudio() == reference.sound);
}

TEST(GstPlayback, DiscovererReportsDurationPictureAndSound) {
    InitGstreamer();
    MovieRecipe recipe;
    recipe.frames = 20;
    const std::string path = MakeMovie(recipe);
    ASSERT_FALSE(path.empty());
    GError* error = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(20 * GST_SECOND, &error);
    ASSERT_TRUE(discoverer);
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, ("file://" + path).c_str(), &error);
    ASSERT_TRUE(info) << (error ? error->message : "");
    EXPECT_EQ(gst_discoverer_info_get_result(info), GST_DISCOVERER_OK);
    EXPECT_EQ(gst_discoverer_info_get_duration(info), 20 * GST_SECOND / 25);
    EXPECT_TRUE(gst_discoverer_info_get_seekable(info));
    GList* videos = gst_discoverer_info_get_video_streams(info);
    ASSERT_EQ(g_list_length(videos), 1u);
    auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
    EXPECT_EQ(gst_discoverer_video_info_get_width(video), recipe.width);
    EXPECT_EQ(gst_discoverer_video_info_get_height(video), recipe.height);
    EXPECT_EQ(gst_discoverer_video_info_get_framerate_num(video), 25u);
    EXPECT_EQ(gst_discoverer_video_info_get_framerate_denom(video), 1u);
    GList* sounds = gst_discoverer_info_get_audio_streams(info);
    ASSERT_EQ(g_list_length(sounds), 1u);
    auto* sound = GST_DISCOVERER_AUDIO_INFO(sounds->data);
    EXPECT_EQ(gst_discoverer_audio_info_get_sample_rate(sound), kSoundRate);
    EXPECT_EQ(gst_discoverer_audio_info_get_channels(sound), 2u);
    gst_discoverer_stream_info_list_free(videos);
    gst_discoverer_stream_info_list_free(sounds);
    gst_discoverer_info_unref(info);
    g_object_unref(discoverer);
}
