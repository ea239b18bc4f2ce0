#include "jobs/movie_sample_pictures.h"

#include <atomic>
#include <cstring>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "jobs/encode_job.h"
#include "jobs/movie_pipeline.h"
#include "support/region_check.h"

namespace {

struct SamplePipeline {
    GstElement* pipeline = nullptr;
    GstElement* converter = nullptr;
    GstElement* sink = nullptr;
    std::atomic<bool> picture_linked{false};

    ~SamplePipeline() {
        if (!pipeline) return;
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* samples = static_cast<SamplePipeline*>(data);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const gchar* name = caps && gst_caps_get_size(caps) > 0 ? gst_structure_get_name(gst_caps_get_structure(caps, 0))
                                                              : nullptr;
    const bool video = name && g_str_has_prefix(name, "video/");
    if (caps) gst_caps_unref(caps);
    GstElement* target = nullptr;
    if (video && !samples->picture_linked) {
        target = samples->converter;
        samples->picture_linked = true;
    } else {
        // Sound and further streams are thrown away rather than left unlinked.
        target = gst_element_factory_make("fakesink", nullptr);
        if (!target) return;
        g_object_set(target, "sync", FALSE, nullptr);
        gst_bin_add(GST_BIN(samples->pipeline), target);
        gst_element_sync_state_with_parent(target);
    }
    GstPad* input = gst_element_get_static_pad(target, "sink");
    gst_pad_link(pad, input);
    gst_object_unref(input);
}

// Waits for the pipeline to settle after a state change or a seek; false on an
// error or when the time ran out.
bool WaitUntilSettled(GstElement* pipeline, std::chrono::steady_clock::time_point deadline) {
    GstBus* bus = gst_element_get_bus(pipeline);
    bool settled = false;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) break;
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count()),
            static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
        if (!message) continue;
        const bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        const bool done = !error && GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline);
        gst_message_unref(message);
        if (error) break;
        if (done) {
            settled = true;
            break;
        }
    }
    gst_object_unref(bus);
    return settled;
}

// The prerolled picture as tight rows, empty when it is not of the size.
std::vector<uint8_t> PrerolledPicture(GstElement* sink, uint32_t width, uint32_t height) {
    std::vector<uint8_t> rows;
    GstSample* sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0);
    if (!sample) return rows;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info)) == width &&
        static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info)) == height &&
        gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        const size_t row = static_cast<size_t>(width) * 4;
        const size_t stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
        const uint8_t* pixels = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        AcceptRegionFromLibrary(pixels, stride * (height - 1) + row);
        rows.resize(row * height);
        for (uint32_t y = 0; y < height; ++y) std::memcpy(&rows[y * row], pixels + y * stride, row);
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return rows;
}

}  // namespace

std::vector<std::vector<uint8_t>> SampleMoviePictures(const std::string& path, uint32_t layout, uint32_t width,
                                                      uint32_t height, uint32_t count,
                                                      std::chrono::milliseconds timeout) {
    std::vector<std::vector<uint8_t>> pictures;
    std::string reason;
    if (count == 0 || width == 0 || height == 0 || !InitMediaFramework(reason)) return pictures;
    if (layout != kLayoutRGB32 && layout != kLayoutARGB32) return pictures;
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    if (!uri) return pictures;

    SamplePipeline samples;
    samples.pipeline = gst_pipeline_new("samples");
    gst_object_ref_sink(samples.pipeline);
    GstElement* decoder = gst_element_factory_make("uridecodebin", nullptr);
    samples.converter = gst_element_factory_make("videoconvert", nullptr);
    samples.sink = gst_element_factory_make("appsink", nullptr);
    if (!decoder || !samples.converter || !samples.sink) {
        for (GstElement* made : {decoder, samples.converter, samples.sink})
            if (made) gst_object_unref(gst_object_ref_sink(made));
        g_free(uri);
        return pictures;
    }
    g_object_set(decoder, "uri", uri, nullptr);
    g_free(uri);
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                        layout == kLayoutARGB32 ? "BGRA" : "BGRx", nullptr);
    g_object_set(samples.sink, "caps", caps, "sync", FALSE, "max-buffers", 1u, "enable-last-sample", FALSE, nullptr);
    gst_caps_unref(caps);
    gst_bin_add_many(GST_BIN(samples.pipeline), decoder, samples.converter, samples.sink, nullptr);
    gst_element_link(samples.converter, samples.sink);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&OnPadAdded), &samples);
    gst_pipeline_use_clock(GST_PIPELINE(samples.pipeline), nullptr);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (gst_element_set_state(samples.pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        !WaitUntilSettled(samples.pipeline, deadline) || !samples.picture_linked)
        return pictures;

    gint64 duration = 0;
    GstQuery* seeking = gst_query_new_seeking(GST_FORMAT_TIME);
    gboolean seekable = FALSE;
    if (gst_element_query(samples.pipeline, seeking))
        gst_query_parse_seeking(seeking, nullptr, &seekable, nullptr, nullptr);
    gst_query_unref(seeking);
    if (!seekable || !gst_element_query_duration(samples.pipeline, GST_FORMAT_TIME, &duration) || duration <= 0)
        return pictures;

    // Accurate seeks decode from the key picture before each place: movies
    // with few key pictures would otherwise give the same picture (often a
    // black one from the opening) again and again.
    for (uint32_t i = 0; i < count; ++i) {
        const gint64 position = static_cast<gint64>(static_cast<__int128>(duration) * (2 * i + 1) / (2 * count));
        if (!gst_element_seek_simple(samples.pipeline, GST_FORMAT_TIME,
                                     static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), position) ||
            !WaitUntilSettled(samples.pipeline, deadline))
            break;
        std::vector<uint8_t> picture = PrerolledPicture(samples.sink, width, height);
        if (picture.empty()) break;
        pictures.push_back(std::move(picture));
    }
    return pictures;
}
