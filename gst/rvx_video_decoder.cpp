#include "gst/rvx_video_decoder.h"

#include <gst/video/video.h>
#include <gst/video/gstvideodecoder.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "container/rvx_layout.h"
#include "gst/stream_caps.h"
#include "rvxlib/frame_decoder.h"
#include "rvxlib/shown_picture.h"
#include "support/cpu_features.h"
#include "support/region_check.h"

GST_DEBUG_CATEGORY_STATIC(rvx_video_decoder_debug);
#define GST_CAT_DEFAULT rvx_video_decoder_debug

namespace {

struct VideoDecoderState {
    _rvxlib_::RVXDecoderSettings settings;
    uint32_t gop_length = 0;
    bool alpha = false;
    bool opened = false;
    _rvxlib_::CRVXFrameDecoder decoder;
    _rvxlib_::CRVXShownPicture shown;
    // Frames handed in and not yet out, by display number.
    std::map<uint32_t, uint32_t> waiting;
    std::set<uint32_t> concealed;
    uint32_t next_display = 0;   // for input without display numbers
};

}  // namespace

struct RvxVideoDecoder {
    GstVideoDecoder parent;
    VideoDecoderState* state;
};

struct RvxVideoDecoderClass {
    GstVideoDecoderClass parent_class;
};

G_DEFINE_TYPE(RvxVideoDecoder, rvx_video_decoder, GST_TYPE_VIDEO_DECODER)

#define RVX_VIDEO_DECODER(obj) (reinterpret_cast<RvxVideoDecoder*>(obj))

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-rvx-frames"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ BGRA, BGRx }")));

static bool rvx_video_decoder_open_codec(VideoDecoderState& s) {
    s.waiting.clear();
    s.concealed.clear();
    s.opened = s.decoder.Open(s.settings, ProcessorFeatures()) &&
               s.shown.Open(s.settings.width, s.settings.height, s.settings.format, ProcessorFeatures());
    return s.opened;
}

static gboolean rvx_video_decoder_set_format(GstVideoDecoder* base, GstVideoCodecState* input) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    const GstStructure* caps = gst_caps_get_structure(input->caps, 0);
    gint width = 0, height = 0;
    guint format = 0, gop = 0;
    gboolean alpha = FALSE;
    const GValue* codec_data = gst_structure_get_value(caps, "codec_data");
    if (!gst_structure_get_int(caps, "width", &width) || !gst_structure_get_int(caps, "height", &height) ||
        !gst_structure_get_uint(caps, kFieldFormatWord, &format) || !gst_structure_get_uint(caps, kFieldGopLength, &gop) ||
        !gst_structure_get_boolean(caps, kFieldAlpha, &alpha) || !codec_data || !GST_VALUE_HOLDS_BUFFER(codec_data) ||
        width <= 0 || height <= 0 || gop == 0) {
        GST_ELEMENT_ERROR(base, STREAM, FORMAT, ("The movie's picture format is incomplete."), (nullptr));
        return FALSE;
    }
    GstBuffer* matrices = gst_value_get_buffer(codec_data);
    s.settings = _rvxlib_::RVXDecoderSettings();
    s.settings.width = uint32_t(width);
    s.settings.height = uint32_t(height);
    s.settings.format = format;
    CheckRegionForLibrary(s.settings.intra_matrix, rvx_layout::kMatrixSize);
    CheckRegionForLibrary(s.settings.inter_matrix, rvx_layout::kMatrixSize);
    if (gst_buffer_get_size(matrices) != 2 * rvx_layout::kMatrixSize ||
        gst_buffer_extract(matrices, 0, s.settings.intra_matrix, rvx_layout::kMatrixSize) != rvx_layout::kMatrixSize ||
        gst_buffer_extract(matrices, rvx_layout::kMatrixSize, s.settings.inter_matrix, rvx_layout::kMatrixSize) !=
            rvx_layout::kMatrixSize) {
        GST_ELEMENT_ERROR(base, STREAM, FORMAT, ("The movie's quantisation matrices are incomplete."), (nullptr));
        return FALSE;
    }
    s.gop_length = gop;
    s.alpha = alpha;
    if (!rvx_video_decoder_open_codec(s)) {
        GST_ELEMENT_ERROR(base, STREAM, CODEC_NOT_FOUND, ("The movie's picture format cannot be decoded."),
                          ("format word 0x%08x, %dx%d", format, width, height));
        return FALSE;
    }
    GstVideoCodecState* output = gst_video_decoder_set_output_state(
        base, alpha ? GST_VIDEO_FORMAT_BGRA : GST_VIDEO_FORMAT_BGRx, guint(width), guint(height), input);
    gst_video_codec_state_unref(output);
    return gst_video_decoder_negotiate(base);
}

// Hands out every picture that is ready, in display order.
static GstFlowReturn rvx_video_decoder_push_ready(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    GstFlowReturn flow = GST_FLOW_OK;
    uint32_t number = 0;
    while (const uint8_t* picture = s.decoder.NextPicture(&number)) {
        // Frames before this one that never got a picture never will.
        for (auto it = s.waiting.begin(); it != s.waiting.end() && it->first < number;) {
            if (GstVideoCodecFrame* lost = gst_video_decoder_get_frame(base, int(it->second))) {
                gst_video_decoder_release_frame(base, lost);
            }
            s.concealed.erase(it->first);
            it = s.waiting.erase(it);
        }
        const auto it = s.waiting.find(number);
        if (it == s.waiting.end()) continue;
        GstVideoCodecFrame* frame = gst_video_decoder_get_frame(base, int(it->second));
        s.waiting.erase(it);
        if (!frame) continue;
        if (s.concealed.erase(number)) {
            flow = gst_video_decoder_drop_frame(base, frame);
        } else {
            flow = gst_video_decoder_allocate_output_frame(base, frame);
            if (flow != GST_FLOW_OK) {
                gst_video_decoder_release_frame(base, frame);
                return flow;
            }
            GstVideoFrame out;
            GstVideoCodecState* state = gst_video_decoder_get_output_state(base);
            if (!gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE)) {
                gst_video_codec_state_unref(state);
                gst_video_decoder_release_frame(base, frame);
                return GST_FLOW_ERROR;
            }
            gst_video_codec_state_unref(state);
            const uint8_t* rows = s.shown.Convert(picture);
            const std::size_t pitch = s.shown.Pitch();
            uint8_t* target = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0));
            const std::size_t stride = std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0));
            const std::size_t row_bytes = std::size_t(s.settings.width) * 4;
            for (uint32_t y = 0; y < s.settings.height; ++y) {
                std::memcpy(target + y * stride, rows + y * pitch, row_bytes);
            }
            gst_video_frame_unmap(&out);
            flow = gst_video_decoder_finish_frame(base, frame);
        }
        if (flow != GST_FLOW_OK) return flow;
    }
    return flow;
}

static GstFlowReturn rvx_video_decoder_handle_frame(GstVideoDecoder* base, GstVideoCodecFrame* frame) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (!s.opened) {
        gst_video_decoder_release_frame(base, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstBuffer* input = frame->input_buffer;
    const uint64_t offset = GST_BUFFER_OFFSET(input);
    const uint32_t display = offset == GST_BUFFER_OFFSET_NONE ? s.next_display : uint32_t(offset);
    s.next_display = display + 1;
    GstMapInfo map;
    if (!gst_buffer_map(input, &map, GST_MAP_READ)) {
        gst_video_decoder_release_frame(base, frame);
        return GST_FLOW_ERROR;
    }
    const bool whole = map.size >= rvx_layout::kFrameRecordSize;
    const uint32_t type = whole ? LoadLE32(map.data + rvx_layout::kRecordTypeWord) : 0;
    if (!whole || s.waiting.count(display)) {
        gst_buffer_unmap(input, &map);
        gst_video_decoder_drop_frame(base, frame);
        GstFlowReturn flow = GST_FLOW_OK;
        GST_VIDEO_DECODER_ERROR(base, 1, STREAM, DECODE, ("A coded picture is cut short or repeated."), (nullptr),
                                flow);
        return flow;
    }
    if (_rvxlib_::RecordType(type) == _rvxlib_::kRecordI) {
        const uint32_t position = _rvxlib_::RecordPosition(type);
        s.decoder.BeginGroup(display >= position ? display - position : 0, s.gop_length);
    }
    s.waiting.emplace(display, frame->system_frame_number);
    if (GST_BUFFER_FLAG_IS_SET(input, GST_BUFFER_FLAG_CORRUPTED)) {
        s.decoder.ConcealFrame(type);
        s.concealed.insert(display);
    } else {
        s.decoder.DecodeFrame(type, map.data + rvx_layout::kFrameRecordSize, map.size - rvx_layout::kFrameRecordSize);
    }
    gst_buffer_unmap(input, &map);
    gst_video_codec_frame_unref(frame);
    return rvx_video_decoder_push_ready(base);
}

// The end of the stream completes the last group; whatever still waits
// for a picture then has none.
static GstFlowReturn rvx_video_decoder_drain(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (!s.opened) return GST_FLOW_OK;
    s.decoder.EndGroup();
    const GstFlowReturn flow = rvx_video_decoder_push_ready(base);
    for (const auto& [display, number] : s.waiting) {
        if (GstVideoCodecFrame* lost = gst_video_decoder_get_frame(base, int(number))) {
            gst_video_decoder_release_frame(base, lost);
        }
    }
    s.waiting.clear();
    s.concealed.clear();
    return flow;
}

static gboolean rvx_video_decoder_flush(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (s.opened) rvx_video_decoder_open_codec(s);
    return TRUE;
}

static gboolean rvx_video_decoder_stop(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    s.opened = false;
    s.waiting.clear();
    s.concealed.clear();
    return TRUE;
}

static void rvx_video_decoder_finalize(GObject* object) {
    delete RVX_VIDEO_DECODER(object)->state;
    G_OBJECT_CLASS(rvx_video_decoder_parent_class)->finalize(object);
}

static void rvx_video_decoder_class_init(RvxVideoDecoderClass* klass) {
    GST_DEBUG_CATEGORY_INIT(rvx_video_decoder_debug, "rvxvideodec", 0, ".rvx picture decoder");
    G_OBJECT_CLASS(klass)->finalize = rvx_video_decoder_finalize;
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "RVX video decoder", "Codec/Decoder/Video",
                                          "Decodes the pictures of .rvx movies",
                                          "RVX Encoder developers <rvx-encoder@localhost>");
    GstVideoDecoderClass* decoder_class = GST_VIDEO_DECODER_CLASS(klass);
    decoder_class->set_format = rvx_video_decoder_set_format;
    decoder_class->handle_frame = rvx_video_decoder_handle_frame;
    decoder_class->finish = rvx_video_decoder_drain;
    decoder_class->drain = rvx_video_decoder_drain;
    decoder_class->flush = rvx_video_decoder_flush;
    decoder_class->stop = rvx_video_decoder_stop;
}

static void rvx_video_decoder_init(RvxVideoDecoder* decoder) {
    decoder->state = new VideoDecoderState;
    gst_video_decoder_set_packetized(GST_VIDEO_DECODER(decoder), TRUE);
    gst_video_decoder_set_needs_format(GST_VIDEO_DECODER(decoder), TRUE);
}
