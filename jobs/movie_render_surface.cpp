#include "jobs/movie_render_surface.h"

#include <cstring>
#include <string_view>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include "jobs/encode_job.h"
#include "support/region_check.h"

namespace {

bool ReadVideoInfo(GstCaps* caps, GstVideoInfo& info) {
    return caps && gst_video_info_from_caps(&info, caps) &&
           (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRx ||
            GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRA);
}

}  // namespace

// GStreamer names a display rotation "rotate-N" (a player turns the picture N
// degrees clockwise) or "flip-rotate-N" (a player mirrors it left to right
// first, then turns it N degrees). A mirror before a turn of N is the turn
// of 360 - N followed by the mirror, the order the facts keep.
bool ReadImageOrientation(const char* text, SourcePictureFacts& facts) {
    if (!text) return false;
    std::string_view name = text;
    bool mirrored = false;
    if (name.starts_with("flip-")) {
        mirrored = true;
        name.remove_prefix(5);
    }
    for (const uint32_t degrees : {0u, 90u, 180u, 270u}) {
        if (name == "rotate-" + std::to_string(degrees)) {
            facts.rotation = mirrored ? (360 - degrees) % 360 : degrees;
            facts.mirrored = mirrored;
            return true;
        }
    }
    return false;
}

namespace {

gboolean ReadOrientationTag(GstPad*, GstEvent** event, gpointer facts) {
    if (GST_EVENT_TYPE(*event) != GST_EVENT_TAG) return TRUE;
    GstTagList* tags = nullptr;
    gst_event_parse_tag(*event, &tags);
    gchar* orientation = nullptr;
    if (tags && gst_tag_list_get_string(tags, GST_TAG_IMAGE_ORIENTATION, &orientation) && orientation)
        ReadImageOrientation(orientation, *static_cast<SourcePictureFacts*>(facts));
    g_free(orientation);
    return TRUE;
}

}  // namespace

CMovieRenderSurface::CMovieRenderSurface(std::mutex& lock)
    : CMovieSink(lock, "Encode Render Surface", "video/x-raw,format=(string){BGRx,BGRA}") {}

bool CMovieRenderSurface::ReadFormat() {
    GstCaps* caps = NegotiatedCaps();
    GstVideoInfo info;
    const bool ok = ReadVideoInfo(caps, info);
    if (ok) {
        format_.layout = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRA ? kLayoutARGB32 : kLayoutRGB32;
        format_.width = static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info));
        format_.height = static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info));
        format_.rate_numerator = GST_VIDEO_INFO_FPS_N(&info);
        format_.rate_denominator = GST_VIDEO_INFO_FPS_D(&info);
        format_.facts = ReadFacts(info);
    }
    if (caps) gst_caps_unref(caps);
    return ok;
}

SourcePictureFacts CMovieRenderSurface::ReadFacts(const GstVideoInfo& info) const {
    SourcePictureFacts facts;
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    if (pad) {
        gst_pad_sticky_events_foreach(pad, &ReadOrientationTag, &facts);
        gst_object_unref(pad);
    }
    // Caps name the field order only for streams interlaced throughout;
    // decoders of formats that may switch per picture (MPEG-2, H.264) say
    // "mixed" and flag each picture, so the first one stands for the movie.
    GstSample* sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink_), 0);
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample) : nullptr;
    switch (GST_VIDEO_INFO_INTERLACE_MODE(&info)) {
    case GST_VIDEO_INTERLACE_MODE_PROGRESSIVE:
        break;
    case GST_VIDEO_INTERLACE_MODE_MIXED:
        facts.interlaced = buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED);
        facts.top_field_first = buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_TFF);
        break;
    default:
        facts.interlaced = true;
        if (GST_VIDEO_INFO_FIELD_ORDER(&info) != GST_VIDEO_FIELD_ORDER_UNKNOWN)
            facts.top_field_first = GST_VIDEO_INFO_FIELD_ORDER(&info) == GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST;
        else
            facts.top_field_first = !buffer || GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_TFF);
        break;
    }
    if (!facts.interlaced) facts.top_field_first = true;
    if (sample) gst_sample_unref(sample);
    return facts;
}

int64_t CMovieRenderSurface::PrerollFrameDuration() const {
    if (!sink_) return 0;
    GstSample* sample = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink_), 0);
    if (!sample) return 0;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstClockTime duration = buffer ? GST_BUFFER_DURATION(buffer) : GST_CLOCK_TIME_NONE;
    gst_sample_unref(sample);
    return GST_CLOCK_TIME_IS_VALID(duration) ? static_cast<int64_t>(duration / 100) : 0;
}

int CMovieRenderSurface::Render(GstSample* sample) {
    if (Stopping()) return GST_FLOW_FLUSHING;
    GstVideoInfo info;
    if (!ReadVideoInfo(gst_sample_get_caps(sample), info)) {
        PostError("a picture arrived without a 32-bit format");
        return GST_FLOW_ERROR;
    }
    // The encoder was opened for the first picture's size and layout; a
    // picture of another would be read past its end or coded as garbage.
    const uint32_t layout = GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGRA ? kLayoutARGB32 : kLayoutRGB32;
    if (static_cast<uint32_t>(GST_VIDEO_INFO_WIDTH(&info)) != format_.width ||
        static_cast<uint32_t>(GST_VIDEO_INFO_HEIGHT(&info)) != format_.height || layout != format_.layout) {
        PostError("the picture size changed in the middle of the movie (" +
                  std::to_string(GST_VIDEO_INFO_WIDTH(&info)) + "x" + std::to_string(GST_VIDEO_INFO_HEIGHT(&info)) +
                  ", the movie began with " + std::to_string(format_.width) + "x" + std::to_string(format_.height) +
                  ")");
        return GST_FLOW_ERROR;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (!buffer || !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
        PostError("a decoded picture could not be read");
        return GST_FLOW_ERROR;
    }
    const size_t row = static_cast<size_t>(format_.width) * 4;
    const size_t stride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
    uint8_t* pixels = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    AcceptRegionFromLibrary(pixels, stride * (format_.height - 1) + row);
    if (stride != row) {
        tight_.resize(row * format_.height);
        for (uint32_t y = 0; y < format_.height; ++y)
            std::memcpy(&tight_[y * row], pixels + y * stride, row);
        pixels = tight_.data();
    }
    MoviePictureTime time;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) time.start = static_cast<int64_t>(GST_BUFFER_PTS(buffer));
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) time.length = static_cast<int64_t>(GST_BUFFER_DURATION(buffer));
    long result;
    {
        std::lock_guard<std::mutex> hold(lock_);
        result = frame_.is_bound() ? frame_(pixels, time) : 0;
    }
    gst_video_frame_unmap(&frame);
    if (result < 0) return GST_FLOW_ERROR;
    return result > 0 ? GST_FLOW_EOS : GST_FLOW_OK;
}
