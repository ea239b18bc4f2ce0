#include "jobs/movie_pipeline.h"

#include <algorithm>
#include <mutex>

#include <gst/gst.h>

#include "jobs/movie_render_sound.h"
#include "jobs/movie_render_surface.h"

namespace {

std::string ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error && error->message ? error->message : "unknown error";
    if (error) g_error_free(error);
    g_free(debug);
    return text;
}

bool CapsStartWith(GstPad* pad, const char* prefix) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    bool match = false;
    if (caps && gst_caps_get_size(caps) > 0) {
        const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
        match = name && g_str_has_prefix(name, prefix);
    }
    if (caps) gst_caps_unref(caps);
    return match;
}

}  // namespace

bool InitMediaFramework(std::string& reason) {
    static std::once_flag once;
    static bool ready = false;
    static std::string failure;
    std::call_once(once, [] {
        GError* error = nullptr;
        ready = gst_init_check(nullptr, nullptr, &error);
        if (!ready) failure = std::string("GStreamer could not start: ") + (error ? error->message : "unknown error");
        if (error) g_error_free(error);
    });
    if (!ready) reason = failure;
    return ready;
}

CMoviePipeline::CMoviePipeline(CMovieRenderSurface& surface, CMovieRenderSound& sound)
    : surface_(surface), sound_(sound) {}

CMoviePipeline::~CMoviePipeline() {
    if (!pipeline_) return;
    Stop();
    gst_object_unref(pipeline_);
}

void CMoviePipeline::OnPadAdded(GstElement*, GstPad* pad, void* self) {
    static_cast<CMoviePipeline*>(self)->LinkPad(pad);
}

void CMoviePipeline::LinkPad(GstPad* pad) {
    if (!picture_linked_ && CapsStartWith(pad, "video/")) {
        if (LinkBranch(pad, "videoconvert", surface_.Element())) {
            picture_linked_ = true;
            return;
        }
    } else if (!sound_linked_ && CapsStartWith(pad, "audio/") && IsChosenSound(pad)) {
        if (LinkBranch(pad, "audioconvert", sound_.Element())) {
            sound_linked_ = true;
            return;
        }
    }
    // Second picture or sound streams, subtitles and the like: an unlinked
    // stream would stop the whole movie with a not-linked error.
    LinkDiscard(pad);
}

bool CMoviePipeline::IsChosenSound(GstPad* pad) const {
    if (sound_stream_.empty()) return true;
    gchar* id = gst_pad_get_stream_id(pad);
    const bool chosen = id && sound_stream_ == id;
    g_free(id);
    return chosen;
}

bool CMoviePipeline::LinkBranch(GstPad* pad, const char* converter_name, GstElement* sink) {
    if (!sink) return false;
    GstElement* converter = gst_element_factory_make(converter_name, nullptr);
    if (!converter) return false;
    gst_bin_add_many(GST_BIN(pipeline_), converter, sink, nullptr);
    // The sink belongs to its render object as well; the bin took one more reference.
    GstPad* input = gst_element_get_static_pad(converter, "sink");
    const bool linked = gst_element_link(converter, sink) && gst_pad_link(pad, input) == GST_PAD_LINK_OK;
    gst_object_unref(input);
    if (!linked) {
        gst_element_set_state(converter, GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_), converter);
        gst_bin_remove(GST_BIN(pipeline_), sink);
        return false;
    }
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(converter);
    return true;
}

void CMoviePipeline::LinkDiscard(GstPad* pad) {
    GstElement* discard = gst_element_factory_make("fakesink", nullptr);
    if (!discard) return;
    g_object_set(discard, "sync", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline_), discard);
    GstPad* input = gst_element_get_static_pad(discard, "sink");
    gst_pad_link(pad, input);
    gst_object_unref(input);
    gst_element_sync_state_with_parent(discard);
}

bool CMoviePipeline::Preroll(const std::string& path, std::chrono::milliseconds timeout, std::string& reason) {
    if (pipeline_) {
        reason = "the movie is already loaded";
        return false;
    }
    if (!surface_.Element() || !sound_.Element()) {
        reason = "GStreamer has no appsink element (gstreamer1.0-plugins-base)";
        return false;
    }
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    if (!uri) {
        reason = std::string("the path cannot be made a URI: ") + (error ? error->message : "");
        if (error) g_error_free(error);
        return false;
    }
    pipeline_ = gst_pipeline_new("movie");
    gst_object_ref_sink(pipeline_);
    GstElement* decoder = gst_element_factory_make("uridecodebin", "decoder");
    if (!decoder) {
        g_free(uri);
        reason = "GStreamer has no uridecodebin element (gstreamer1.0-plugins-base)";
        return false;
    }
    g_object_set(decoder, "uri", uri, nullptr);
    g_free(uri);
    gst_bin_add(GST_BIN(pipeline_), decoder);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&CMoviePipeline::OnPadAdded), this);
    // No clock: every sample is handed on the moment it is decoded.
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_), nullptr);

    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string late = "the movie did not start decoding within " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) + " s";
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        // The error message on the bus says why; it is there already or
        // comes at once, so there is no point in the full wait.
        deadline = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(2));
        late = "the movie could not be opened";
    }
    GstBus* bus = gst_element_get_bus(pipeline_);
    bool ready = false;
    while (!ready) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            reason = late;
            break;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, static_cast<GstClockTime>(ns),
            static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
        if (!message) continue;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            reason = ErrorText(message);
            gst_message_unref(message);
            break;
        }
        ready = GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline_);
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    if (!ready) Stop();
    return ready;
}

uint64_t CMoviePipeline::DurationInFrames() const {
    gint64 frames = 0;
    if (!picture_linked_ || !gst_element_query_duration(surface_.Element(), GST_FORMAT_DEFAULT, &frames))
        return 0;
    return frames > 0 ? static_cast<uint64_t>(frames) : 0;
}

uint64_t CMoviePipeline::DurationInTime() const {
    gint64 ns = 0;
    if (!pipeline_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns)) return 0;
    return ns > 0 ? static_cast<uint64_t>(ns) : 0;
}

bool CMoviePipeline::Play(std::string& reason) {
    if (!pipeline_ || gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        reason = "the movie could not be started";
        return false;
    }
    return true;
}

CMoviePipeline::Event CMoviePipeline::WaitForEvent(std::chrono::milliseconds timeout, std::string& error) {
    if (!pipeline_) {
        error = "the movie is not loaded";
        return Event::kError;
    }
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count()),
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    if (!message) return Event::kNone;
    Event event = Event::kEnd;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        error = ErrorText(message);
        event = Event::kError;
    }
    gst_message_unref(message);
    return event;
}

void CMoviePipeline::Stop() {
    if (pipeline_) gst_element_set_state(pipeline_, GST_STATE_NULL);
}
