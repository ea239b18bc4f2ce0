#include "gst/rvx_video_decoder.h"

#include <gst/video/video.h>
#include <gst/video/gstvideodecoder.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <map>
#include <mutex>

#include "container/rvx_layout.h"
#include "gst/group_lanes.h"
#include "gst/stream_caps.h"
#include "rvxlib/encoder/row_workers.h"
#include "support/region_check.h"

GST_DEBUG_CATEGORY_STATIC(rvx_video_decoder_debug);
#define GST_CAT_DEFAULT rvx_video_decoder_debug

namespace {

// Groups handed to the lanes at once: one a lane. A lane that finishes its
// group waits for the output to take it before starting another, so that
// at most one group a lane is held ahead of the output.
constexpr std::size_t kGroupsBeyondLanes = 0;
constexpr guint kMaxThreads = 16;
// More lanes than this cost memory (pictures per lane) for little gain.
constexpr uint32_t kMostAutomaticThreads = 4;

struct VideoDecoderState {
    _rvxlib_::RVXDecoderSettings settings;
    uint32_t gop_length = 0;
    bool opened = false;
    guint threads = 0;  // 0: RVX_THREADS or the processors there are
    CGroupLanes lanes;
    // Frames handed in and not yet out, by display number; the streaming
    // thread adds to it, the output task takes from it.
    std::mutex waiting_mutex;
    std::map<uint32_t, uint32_t> waiting;
    // What the output task's last push returned; the streaming thread hands
    // a failure upstream.
    std::atomic<GstFlowReturn> output_flow{GST_FLOW_OK};
    // Between a flush's start and its stop (or while the element stops):
    // the output task must stay stopped, whoever would start it again.
    std::atomic<bool> flushing{false};
    // Makes starting the output task and a flush's start exclude each other.
    std::mutex control_mutex;
    uint32_t next_display = 0;   // for input without display numbers
};

enum { kPropThreads = 1 };

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

static void rvx_video_decoder_start_output(GstVideoDecoder* base);
static void rvx_video_decoder_stop_output(GstVideoDecoder* base);

static bool rvx_video_decoder_open_codec(VideoDecoderState& s) {
    {
        std::lock_guard<std::mutex> lock(s.waiting_mutex);
        s.waiting.clear();
    }
    const uint32_t threads = s.threads ? s.threads : std::min(_rvxlib_::WorkerThreadCount(), kMostAutomaticThreads);
    s.opened = s.lanes.Open(s.settings, s.gop_length, threads);
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
    if (s.opened) {
        GST_VIDEO_DECODER_STREAM_UNLOCK(base);
        rvx_video_decoder_stop_output(base);
        GST_VIDEO_DECODER_STREAM_LOCK(base);
    }
    if (!rvx_video_decoder_open_codec(s)) {
        GST_ELEMENT_ERROR(base, STREAM, CODEC_NOT_FOUND, ("The movie's picture format cannot be decoded."),
                          ("format word 0x%08x, %dx%d", format, width, height));
        return FALSE;
    }
    GstVideoCodecState* output = gst_video_decoder_set_output_state(
        base, alpha ? GST_VIDEO_FORMAT_BGRA : GST_VIDEO_FORMAT_BGRx, guint(width), guint(height), input);
    gst_video_codec_state_unref(output);
    if (!gst_video_decoder_negotiate(base)) return FALSE;
    rvx_video_decoder_start_output(base);
    return TRUE;
}

static void rvx_video_decoder_release(GstVideoDecoder* base, uint32_t system_frame_number) {
    if (GstVideoCodecFrame* frame = gst_video_decoder_get_frame(base, int(system_frame_number))) {
        gst_video_decoder_release_frame(base, frame);
    }
}

// Finishes the frame a shown picture belongs to: dropped when it was damaged
// (the picture before it stays on screen), otherwise copied out.
static GstFlowReturn rvx_video_decoder_show(GstVideoDecoder* base, ShownFrame& shown) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    std::vector<uint32_t> lost;
    uint32_t number = 0;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(s.waiting_mutex);
        // Frames before this one that never got a picture never will.
        for (auto it = s.waiting.begin(); it != s.waiting.end() && it->first < shown.display_number;) {
            lost.push_back(it->second);
            it = s.waiting.erase(it);
        }
        const auto it = s.waiting.find(shown.display_number);
        if (it != s.waiting.end()) {
            number = it->second;
            found = true;
            s.waiting.erase(it);
        }
    }
    for (uint32_t frame : lost) rvx_video_decoder_release(base, frame);
    if (!found) return GST_FLOW_OK;
    GstVideoCodecFrame* frame = gst_video_decoder_get_frame(base, int(number));
    if (!frame) return GST_FLOW_OK;
    if (shown.damaged) return gst_video_decoder_drop_frame(base, frame);
    GstFlowReturn flow = gst_video_decoder_allocate_output_frame(base, frame);
    if (flow != GST_FLOW_OK) {
        gst_video_decoder_release_frame(base, frame);
        return flow;
    }
    GstVideoCodecState* state = gst_video_decoder_get_output_state(base);
    GstVideoFrame out;
    const bool mapped = gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE);
    gst_video_codec_state_unref(state);
    if (!mapped) {
        gst_video_decoder_release_frame(base, frame);
        return GST_FLOW_ERROR;
    }
    uint8_t* target = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0));
    const std::size_t stride = std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0));
    const std::size_t row_bytes = std::size_t(s.settings.width) * 4;
    for (uint32_t y = 0; y < s.settings.height; ++y) {
        std::memcpy(target + y * stride, shown.rows.data() + y * shown.pitch, row_bytes);
    }
    gst_video_frame_unmap(&out);
    s.lanes.Recycle(std::move(shown.rows));
    return gst_video_decoder_finish_frame(base, frame);
}

// The output task: shows each picture as soon as its lane has made it, so
// that a picture never waits for more input (a pipeline prerolling would
// otherwise wait for it forever).
static void rvx_video_decoder_output_loop(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    ShownFrame shown;
    if (!s.lanes.Pop(&shown, CGroupLanes::Wait::kForever)) {
        gst_pad_pause_task(GST_VIDEO_DECODER_SRC_PAD(base));
        return;
    }
    const GstFlowReturn flow = rvx_video_decoder_show(base, shown);
    if (flow != GST_FLOW_OK) {
        s.output_flow = flow;
        s.lanes.Interrupt();
        gst_pad_pause_task(GST_VIDEO_DECODER_SRC_PAD(base));
    }
}

static void rvx_video_decoder_start_output(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    std::lock_guard<std::mutex> lock(s.control_mutex);
    if (s.flushing) return;
    s.output_flow = GST_FLOW_OK;
    s.lanes.Resume();
    gst_pad_start_task(GST_VIDEO_DECODER_SRC_PAD(base), reinterpret_cast<GstTaskFunction>(rvx_video_decoder_output_loop),
                       base, nullptr);
}

// Stops the output task; the caller holds no lock the task may wait for.
static void rvx_video_decoder_stop_output(GstVideoDecoder* base) {
    RVX_VIDEO_DECODER(base)->state->lanes.Interrupt();
    gst_pad_stop_task(GST_VIDEO_DECODER_SRC_PAD(base));
}

static GstFlowReturn rvx_video_decoder_handle_frame(GstVideoDecoder* base, GstVideoCodecFrame* frame) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (!s.opened) {
        gst_video_decoder_release_frame(base, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (s.flushing || s.output_flow != GST_FLOW_OK) {
        gst_video_decoder_release_frame(base, frame);
        return s.flushing ? GST_FLOW_FLUSHING : GstFlowReturn(s.output_flow);
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
    bool repeated = false;
    {
        std::lock_guard<std::mutex> lock(s.waiting_mutex);
        repeated = s.waiting.count(display) != 0;
    }
    if (map.size < rvx_layout::kFrameRecordSize || repeated) {
        gst_buffer_unmap(input, &map);
        gst_video_decoder_drop_frame(base, frame);
        GstFlowReturn flow = GST_FLOW_OK;
        GST_VIDEO_DECODER_ERROR(base, 1, STREAM, DECODE, ("A coded picture is cut short or repeated."), (nullptr),
                                flow);
        return flow;
    }
    CodedFrame coded;
    coded.type_word = LoadLE32(map.data + rvx_layout::kRecordTypeWord);
    coded.display_number = display;
    coded.damaged = GST_BUFFER_FLAG_IS_SET(input, GST_BUFFER_FLAG_CORRUPTED);
    AcceptRegionFromLibrary(map.data, map.size);
    coded.payload.assign(map.data + rvx_layout::kFrameRecordSize, map.data + map.size);
    gst_buffer_unmap(input, &map);
    {
        std::lock_guard<std::mutex> lock(s.waiting_mutex);
        s.waiting.emplace(display, frame->system_frame_number);
    }
    gst_video_codec_frame_unref(frame);
    s.lanes.Push(std::move(coded));
    // Bounds the pictures in memory; the output task makes room, and it may
    // need the stream lock for that.
    GST_VIDEO_DECODER_STREAM_UNLOCK(base);
    s.lanes.WaitForRoom(s.lanes.Lanes() + kGroupsBeyondLanes);
    GST_VIDEO_DECODER_STREAM_LOCK(base);
    return s.output_flow;
}

// The end of the stream completes the last group: the output task stops and
// what is left is shown here; whatever still waits for a picture then has
// none.
static GstFlowReturn rvx_video_decoder_drain(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (!s.opened) return GST_FLOW_OK;
    s.lanes.Finish();
    GST_VIDEO_DECODER_STREAM_UNLOCK(base);
    rvx_video_decoder_stop_output(base);
    GST_VIDEO_DECODER_STREAM_LOCK(base);
    GstFlowReturn flow = s.output_flow;
    s.lanes.Resume();
    ShownFrame shown;
    GST_VIDEO_DECODER_STREAM_UNLOCK(base);
    while (flow == GST_FLOW_OK && s.lanes.Pop(&shown, CGroupLanes::Wait::kUntilEmpty)) {
        GST_VIDEO_DECODER_STREAM_LOCK(base);
        flow = rvx_video_decoder_show(base, shown);
        GST_VIDEO_DECODER_STREAM_UNLOCK(base);
    }
    GST_VIDEO_DECODER_STREAM_LOCK(base);
    std::vector<uint32_t> lost;
    {
        std::lock_guard<std::mutex> lock(s.waiting_mutex);
        for (const auto& [display, number] : s.waiting) lost.push_back(number);
        s.waiting.clear();
    }
    for (uint32_t number : lost) rvx_video_decoder_release(base, number);
    // The lanes were told the stream ended; the next frames start afresh.
    rvx_video_decoder_open_codec(s);
    rvx_video_decoder_start_output(base);
    return flow;
}

static gboolean rvx_video_decoder_flush(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    if (s.opened) {
        GST_VIDEO_DECODER_STREAM_UNLOCK(base);
        rvx_video_decoder_stop_output(base);
        GST_VIDEO_DECODER_STREAM_LOCK(base);
        rvx_video_decoder_open_codec(s);
    }
    s.flushing = false;
    if (s.opened) rvx_video_decoder_start_output(base);
    return TRUE;
}

// A flush must first stop the output task, which may be waiting for a
// picture or pushing one downstream.
static gboolean rvx_video_decoder_sink_event(GstVideoDecoder* base, GstEvent* event) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    const bool flush_start = GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_START;
    if (flush_start) {
        std::lock_guard<std::mutex> lock(s.control_mutex);
        s.flushing = true;
        s.lanes.Interrupt();
    }
    const gboolean handled = GST_VIDEO_DECODER_CLASS(rvx_video_decoder_parent_class)->sink_event(base, event);
    if (flush_start) gst_pad_stop_task(GST_VIDEO_DECODER_SRC_PAD(base));
    return handled;
}

static gboolean rvx_video_decoder_stop(GstVideoDecoder* base) {
    VideoDecoderState& s = *RVX_VIDEO_DECODER(base)->state;
    rvx_video_decoder_stop_output(base);
    s.opened = false;
    s.lanes.Close();
    std::lock_guard<std::mutex> lock(s.waiting_mutex);
    s.waiting.clear();
    return TRUE;
}

static GstStateChangeReturn rvx_video_decoder_change_state(GstElement* element, GstStateChange transition) {
    // The source pad cannot be deactivated while its task waits for a picture.
    VideoDecoderState& s = *RVX_VIDEO_DECODER(element)->state;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) s.flushing = false;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        {
            std::lock_guard<std::mutex> lock(s.control_mutex);
            s.flushing = true;
        }
        rvx_video_decoder_stop_output(GST_VIDEO_DECODER(element));
    }
    return GST_ELEMENT_CLASS(rvx_video_decoder_parent_class)->change_state(element, transition);
}

static void rvx_video_decoder_set_property(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
    if (id == kPropThreads) {
        RVX_VIDEO_DECODER(object)->state->threads = g_value_get_uint(value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

static void rvx_video_decoder_get_property(GObject* object, guint id, GValue* value, GParamSpec* spec) {
    if (id == kPropThreads) {
        g_value_set_uint(value, RVX_VIDEO_DECODER(object)->state->threads);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

static void rvx_video_decoder_finalize(GObject* object) {
    delete RVX_VIDEO_DECODER(object)->state;
    G_OBJECT_CLASS(rvx_video_decoder_parent_class)->finalize(object);
}

static void rvx_video_decoder_class_init(RvxVideoDecoderClass* klass) {
    GST_DEBUG_CATEGORY_INIT(rvx_video_decoder_debug, "rvxvideodec", 0, ".rvx picture decoder");
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    object_class->finalize = rvx_video_decoder_finalize;
    object_class->set_property = rvx_video_decoder_set_property;
    object_class->get_property = rvx_video_decoder_get_property;
    g_object_class_install_property(
        object_class, kPropThreads,
        g_param_spec_uint("threads", "Threads",
                          "Groups of pictures decoded at once, each on a thread of its own (0: RVX_THREADS or one "
                          "per processor, at most 4)",
                          0, kMaxThreads, 0, GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    element_class->change_state = rvx_video_decoder_change_state;
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
    decoder_class->sink_event = rvx_video_decoder_sink_event;
}

static void rvx_video_decoder_init(RvxVideoDecoder* decoder) {
    decoder->state = new VideoDecoderState;
    gst_video_decoder_set_packetized(GST_VIDEO_DECODER(decoder), TRUE);
    gst_video_decoder_set_needs_format(GST_VIDEO_DECODER(decoder), TRUE);
}
