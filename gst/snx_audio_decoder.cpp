#include "gst/snx_audio_decoder.h"

#include <gst/audio/audio.h>
#include <gst/audio/gstaudiodecoder.h>

#include <cstring>

#include "gst/stream_caps.h"
#include "snxlib/snx_block_decoder.h"
#include "support/region_check.h"

GST_DEBUG_CATEGORY_STATIC(snx_audio_decoder_debug);
#define GST_CAT_DEFAULT snx_audio_decoder_debug

struct SnxAudioDecoder {
    GstAudioDecoder parent;
    _snxlib_::CSNXBlockDecoder* blocks;
    bool ready;
};

struct SnxAudioDecoderClass {
    GstAudioDecoderClass parent_class;
};

G_DEFINE_TYPE(SnxAudioDecoder, snx_audio_decoder, GST_TYPE_AUDIO_DECODER)

#define SNX_AUDIO_DECODER(obj) (reinterpret_cast<SnxAudioDecoder*>(obj))

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-snx"));
static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format = (string) " GST_AUDIO_NE(S16) ", layout = (string) interleaved, "
                    "rate = (int) [ 1, MAX ], channels = (int) [ 1, MAX ]"));

static gboolean snx_audio_decoder_set_format(GstAudioDecoder* base, GstCaps* caps) {
    SnxAudioDecoder* decoder = SNX_AUDIO_DECODER(base);
    decoder->ready = false;
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const GValue* codec_data = gst_structure_get_value(structure, "codec_data");
    uint8_t bytes[_snxlib_::kSNXHeaderSize];
    CheckRegionForLibrary(bytes, sizeof bytes);
    _snxlib_::SNXHeader header;
    if (!codec_data || !GST_VALUE_HOLDS_BUFFER(codec_data) ||
        gst_buffer_extract(gst_value_get_buffer(codec_data), 0, bytes, sizeof bytes) != sizeof bytes ||
        !_snxlib_::LoadSNXHeader(bytes, header) || !decoder->blocks->Setup(header) || header.sample_rate == 0 ||
        header.sample_rate > uint32_t(G_MAXINT)) {
        GST_ELEMENT_ERROR(base, STREAM, FORMAT, ("The movie's sound format cannot be decoded."), (nullptr));
        return FALSE;
    }
    GstAudioInfo info;
    gst_audio_info_init(&info);
    // One and two channels are mono and stereo; the SNX header names no
    // speakers for more.
    const GstAudioChannelPosition mono[] = {GST_AUDIO_CHANNEL_POSITION_MONO};
    const GstAudioChannelPosition stereo[] = {GST_AUDIO_CHANNEL_POSITION_FRONT_LEFT,
                                              GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT};
    gst_audio_info_set_format(&info, GST_AUDIO_FORMAT_S16, gint(header.sample_rate), gint(header.channels),
                              header.channels == 1 ? mono : header.channels == 2 ? stereo : nullptr);
    decoder->ready = gst_audio_decoder_set_output_format(base, &info);
    return decoder->ready;
}

static GstFlowReturn snx_audio_decoder_handle_frame(GstAudioDecoder* base, GstBuffer* buffer) {
    SnxAudioDecoder* decoder = SNX_AUDIO_DECODER(base);
    if (!buffer) return GST_FLOW_OK;  // nothing is held back between blocks
    if (!decoder->ready) return GST_FLOW_NOT_NEGOTIATED;
    _snxlib_::CSNXBlockDecoder& blocks = *decoder->blocks;
    const uint64_t index = GST_BUFFER_OFFSET(buffer);
    if (index >= blocks.Header().block_count) {
        GstFlowReturn flow = GST_FLOW_OK;
        GST_AUDIO_DECODER_ERROR(base, 1, STREAM, DECODE, ("A sound block lies outside the sound track."), (nullptr),
                                flow);
        if (flow == GST_FLOW_OK) gst_audio_decoder_finish_frame(base, nullptr, 1);
        return flow;
    }
    const bool discont = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    if (discont) blocks.Reset();
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return GST_FLOW_ERROR;
    const bool decoded = blocks.Decode(uint32_t(index), map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    const uint32_t lag = blocks.Lag();
    if (index < lag || (discont && lag > 0)) return gst_audio_decoder_finish_frame(base, nullptr, 1);
    const uint32_t samples = blocks.OutputSamples(uint32_t(index - lag));
    if (samples == 0) return gst_audio_decoder_finish_frame(base, nullptr, 1);
    GstBuffer* out = gst_audio_decoder_allocate_output_buffer(base, std::size_t(samples) * sizeof(int16_t));
    GstMapInfo out_map;
    if (!gst_buffer_map(out, &out_map, GST_MAP_WRITE)) {
        gst_buffer_unref(out);
        return GST_FLOW_ERROR;
    }
    if (decoded) {
        std::memcpy(out_map.data, blocks.Output(), out_map.size);
    } else {
        // A damaged block plays as silence, keeping the sound in step.
        std::memset(out_map.data, 0, out_map.size);
        GST_ELEMENT_WARNING(base, STREAM, DECODE, ("Sound block %" G_GUINT64_FORMAT " is damaged and plays as silence.",
                                                   index), (nullptr));
    }
    gst_buffer_unmap(out, &out_map);
    return gst_audio_decoder_finish_frame(base, out, 1);
}

static void snx_audio_decoder_flush(GstAudioDecoder* base, gboolean) { SNX_AUDIO_DECODER(base)->blocks->Reset(); }

static void snx_audio_decoder_finalize(GObject* object) {
    delete SNX_AUDIO_DECODER(object)->blocks;
    G_OBJECT_CLASS(snx_audio_decoder_parent_class)->finalize(object);
}

static void snx_audio_decoder_class_init(SnxAudioDecoderClass* klass) {
    GST_DEBUG_CATEGORY_INIT(snx_audio_decoder_debug, "snxaudiodec", 0, "SNX sound decoder");
    G_OBJECT_CLASS(klass)->finalize = snx_audio_decoder_finalize;
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "SNX audio decoder", "Codec/Decoder/Audio",
                                          "Decodes the SNX sound of .rvx movies",
                                          "RVX Encoder developers <rvx-encoder@localhost>");
    GstAudioDecoderClass* decoder_class = GST_AUDIO_DECODER_CLASS(klass);
    decoder_class->set_format = snx_audio_decoder_set_format;
    decoder_class->handle_frame = snx_audio_decoder_handle_frame;
    decoder_class->flush = snx_audio_decoder_flush;
}

static void snx_audio_decoder_init(SnxAudioDecoder* decoder) {
    decoder->blocks = new _snxlib_::CSNXBlockDecoder;
    decoder->ready = false;
    gst_audio_decoder_set_drainable(GST_AUDIO_DECODER(decoder), TRUE);
    gst_audio_decoder_set_needs_format(GST_AUDIO_DECODER(decoder), TRUE);
}
