#include "gst/rvx_demux.h"

#include <gst/base/gstflowcombiner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "container/rvx_reader.h"
#include "gst/movie_timeline.h"
#include "gst/pad_byte_source.h"
#include "gst/stream_caps.h"
#include "support/hash.h"
#include "support/region_check.h"

GST_DEBUG_CATEGORY_STATIC(rvx_demux_debug);
#define GST_CAT_DEFAULT rvx_demux_debug

namespace {

// What the demuxer knows about the movie and where it is in it. Touched by
// the streaming thread, and by a seek only while it holds the sink pad's
// stream lock.
struct DemuxState {
    bool pull_mode = false;
    std::vector<uint8_t> pushed;       // push mode: every byte of the movie so far
    uint64_t pushed_beyond = 0;        // push mode: bytes after the end the header gives
    bool push_ended = false;
    std::unique_ptr<IByteSource> source;
    CRVXReader reader;
    CMovieTimeline timeline;
    bool opened = false;
    std::string refusal;                   // why the movie cannot be played, before any pad exists
    std::string refusal_detail;
    GstPad* video_pad = nullptr;
    GstPad* sound_pad = nullptr;
    GstFlowCombiner* combiner = nullptr;
    std::vector<uint32_t> block_offsets;   // inside the SNX track, of the blocks that are whole
    uint64_t blocks_end = 0;               // where the last of them ends
    std::size_t next_record = 0;           // coding order
    uint32_t next_block = 0;               // coded SNX block
    bool video_discont = true;
    bool sound_discont = true;
    bool need_segment = true;
    uint32_t seek_seqnum = 0;              // of the seek being played
    GstSegment segment;
};

}  // namespace

struct RvxDemux {
    GstElement parent;
    GstPad* sinkpad;
    DemuxState* state;
};

struct RvxDemuxClass {
    GstElementClass parent_class;
};

G_DEFINE_TYPE(RvxDemux, rvx_demux, GST_TYPE_ELEMENT)

#define RVX_DEMUX(obj) (reinterpret_cast<RvxDemux*>(obj))

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-rvx"));
static GstStaticPadTemplate video_template =
    GST_STATIC_PAD_TEMPLATE("video", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("video/x-rvx-frames"));
static GstStaticPadTemplate sound_template =
    GST_STATIC_PAD_TEMPLATE("audio", GST_PAD_SRC, GST_PAD_SOMETIMES, GST_STATIC_CAPS("audio/x-snx"));

namespace {

GstBuffer* BufferOf(const uint8_t* bytes, std::size_t size) {
    CheckRegionForLibrary(bytes, size);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_fill(buffer, 0, bytes, size);
    return buffer;
}

GstCaps* VideoCaps(const CRVXReader& reader, const CMovieTimeline& timeline) {
    std::vector<uint8_t> matrices(2 * rvx_layout::kMatrixSize);
    std::memcpy(matrices.data(), reader.IntraMatrix(), rvx_layout::kMatrixSize);
    std::memcpy(matrices.data() + rvx_layout::kMatrixSize, reader.InterMatrix(), rvx_layout::kMatrixSize);
    GstBuffer* codec_data = BufferOf(matrices.data(), matrices.size());
    // Caps fractions are signed; a rate beyond that range is approximated.
    gint num = gint(timeline.RateNumerator()), den = gint(timeline.RateDenominator());
    if (timeline.RateNumerator() > uint32_t(G_MAXINT) || timeline.RateDenominator() > uint32_t(G_MAXINT)) {
        gst_util_double_to_fraction(double(timeline.RateNumerator()) / timeline.RateDenominator(), &num, &den);
    }
    GstCaps* caps = gst_caps_new_simple(
        kFramesCaps, "width", G_TYPE_INT, gint(reader.Width()), "height", G_TYPE_INT, gint(reader.Height()),
        "framerate", GST_TYPE_FRACTION, num, den, kFieldFormatWord, G_TYPE_UINT, reader.FormatFlags(),
        kFieldGopLength, G_TYPE_UINT, reader.GopLength(), kFieldAlpha, G_TYPE_BOOLEAN,
        gboolean(_rvxlib_::FormatHasAlpha(reader.FormatFlags())), "codec_data", GST_TYPE_BUFFER, codec_data,
        nullptr);
    gst_buffer_unref(codec_data);
    return caps;
}

GstCaps* SoundCaps(CRVXReader& reader) {
    uint8_t header[_snxlib_::kSNXHeaderSize];
    if (!reader.ReadBytes(reader.SoundOffset(), sizeof header, header)) return nullptr;
    GstBuffer* codec_data = BufferOf(header, sizeof header);
    const auto& snx = reader.Sound();
    const char* method = _snxlib_::SoundMethodText(snx.mode);
    GstCaps* caps = gst_caps_new_simple(kSoundCaps, "rate", G_TYPE_INT, gint(snx.sample_rate), "channels",
                                        G_TYPE_INT, gint(snx.channels), kFieldMode, G_TYPE_INT, gint(snx.mode),
                                        kFieldMethod, G_TYPE_STRING, method ? method : "other", "codec_data",
                                        GST_TYPE_BUFFER, codec_data, nullptr);
    gst_buffer_unref(codec_data);
    return caps;
}

// What players show as the stream's codec.
GstTagList* VideoTags(const CRVXReader& reader) {
    const char* picture = _rvxlib_::PictureFormatText(reader.FormatFlags());
    const char* transform = _rvxlib_::TransformText(reader.FormatFlags());
    gchar* codec = g_strdup_printf("RVX video (%s, %s)", picture ? picture : "other", transform ? transform : "other");
    GstTagList* tags = gst_tag_list_new(GST_TAG_VIDEO_CODEC, codec, GST_TAG_CONTAINER_FORMAT, "RVX", nullptr);
    g_free(codec);
    return tags;
}

GstTagList* SoundTags(const CRVXReader& reader) {
    const char* method = _snxlib_::SoundMethodText(reader.Sound().mode);
    gchar* codec = g_strdup_printf("SNX sound (%s)", method ? method : "other");
    GstTagList* tags = gst_tag_list_new(GST_TAG_AUDIO_CODEC, codec, GST_TAG_CONTAINER_FORMAT, "RVX", nullptr);
    g_free(codec);
    return tags;
}

}  // namespace

static gboolean rvx_demux_src_event(GstPad* pad, GstObject* parent, GstEvent* event);
static gboolean rvx_demux_src_query(GstPad* pad, GstObject* parent, GstQuery* query);

static GstPad* rvx_demux_add_pad(RvxDemux* demux, GstStaticPadTemplate* templ, const char* name, GstCaps* caps,
                                 GstTagList* tags) {
    DemuxState& s = *demux->state;
    GstPad* pad = gst_pad_new_from_static_template(templ, templ->name_template);
    gst_pad_set_event_function(pad, rvx_demux_src_event);
    gst_pad_set_query_function(pad, rvx_demux_src_query);
    gst_pad_use_fixed_caps(pad);
    gst_pad_set_active(pad, TRUE);
    gchar* stream_id = gst_pad_create_stream_id(pad, GST_ELEMENT(demux), name);
    GstEvent* start = gst_event_new_stream_start(stream_id);
    g_free(stream_id);
    gst_event_set_group_id(start, gst_util_group_id_next());
    gst_pad_push_event(pad, start);
    gst_pad_set_caps(pad, caps);
    gst_caps_unref(caps);
    gst_pad_push_event(pad, gst_event_new_tag(tags));
    gst_element_add_pad(GST_ELEMENT(demux), pad);
    gst_flow_combiner_add_pad(s.combiner, pad);
    return pad;
}

static void rvx_demux_remove_pads(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    for (GstPad** pad : {&s.video_pad, &s.sound_pad}) {
        if (!*pad) continue;
        gst_flow_combiner_remove_pad(s.combiner, *pad);
        gst_element_remove_pad(GST_ELEMENT(demux), *pad);
        *pad = nullptr;
    }
}

// A movie read tolerantly plays what is whole of it; what was passed over is
// worth a warning, never an error.
static void rvx_demux_warn_of_damage(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    if (s.pushed_beyond > 0) {
        GST_ELEMENT_WARNING(demux, STREAM, DEMUX, ("The %" G_GUINT64_FORMAT " bytes after the movie's end are ignored.",
                                                   s.pushed_beyond), (nullptr));
    }
    if (s.reader.Problems().empty()) return;
    const RVXProblem& first = s.reader.Problems().front();
    GST_ELEMENT_WARNING(demux, STREAM, DEMUX, ("The movie is damaged; its intact part plays: %s.", first.message.c_str()),
                        ("%u of %u pictures and %u of %u sound blocks are whole; first damage at offset %" G_GUINT64_FORMAT,
                         guint(s.reader.Frames().size()), s.reader.FrameCount(), s.reader.IntactSoundBlocks(),
                         s.reader.HasSound() ? guint(s.reader.Sound().block_count) : 0u, first.offset));
}

// The offsets of the sound blocks that are whole, and where the last ends.
static bool rvx_demux_read_block_table(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    s.block_offsets.clear();
    if (!s.reader.HasSound() || !s.timeline.HasSound() || s.reader.IntactSoundBlocks() == 0) return true;
    const auto& snx = s.reader.Sound();
    const uint32_t count = s.reader.IntactSoundBlocks();
    // One entry more when the track goes on: the next block's start ends the last whole one.
    const uint32_t entries = count < snx.block_count ? count + 1 : count;
    std::vector<uint8_t> table(std::size_t(entries) * 4);
    if (!s.reader.ReadBytes(s.reader.SoundOffset() + _snxlib_::kSNXHeaderSize, table.size(), table.data())) {
        s.refusal = "The movie's sound track cannot be read.";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) s.block_offsets.push_back(LoadLE32(&table[std::size_t(i) * 4]));
    s.blocks_end = entries > count ? LoadLE32(&table[std::size_t(count) * 4]) : snx.end_offset;
    return true;
}

// Reads the movie's layout; on success the pads exist and playback starts
// at the beginning. False when the movie is refused (s.refusal says why) or a
// flush interrupted the reading (s.refusal is empty).
static bool rvx_demux_open(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    s.refusal.clear();
    s.refusal_detail.clear();
    if (s.pull_mode) {
        gint64 length = 0;
        if (!gst_pad_peer_query_duration(demux->sinkpad, GST_FORMAT_BYTES, &length) || length < 0) {
            s.refusal = "The movie's length is unknown.";
            return false;
        }
        s.source = std::make_unique<CPadByteSource>(demux->sinkpad, uint64_t(length));
    } else {
        s.source = std::make_unique<CMemoryByteSource>(s.pushed.data(), s.pushed.size());
    }
    if (!s.reader.Open(*s.source, RVXReading::kTolerant)) {
        auto* pad_source = dynamic_cast<CPadByteSource*>(s.source.get());
        if (pad_source && pad_source->Flushing()) return false;
        const auto& problems = s.reader.Problems();
        s.refusal = "The movie's header or index is damaged: " +
                    (problems.empty() ? std::string("unknown") : problems.front().message) + ".";
        s.refusal_detail = "refused at offset " + std::to_string(problems.empty() ? 0 : problems.front().offset);
        return false;
    }
    rvx_demux_warn_of_damage(demux);
    s.timeline.Build(s.reader);
    if (!rvx_demux_read_block_table(demux)) return false;
    s.video_pad = rvx_demux_add_pad(demux, &video_template, "video", VideoCaps(s.reader, s.timeline),
                                    VideoTags(s.reader));
    if (!s.block_offsets.empty()) {
        if (GstCaps* caps = SoundCaps(s.reader)) {
            s.sound_pad = rvx_demux_add_pad(demux, &sound_template, "audio", caps, SoundTags(s.reader));
        }
    }
    gst_element_no_more_pads(GST_ELEMENT(demux));
    s.opened = true;
    s.segment.duration = s.timeline.Duration();
    s.next_record = 0;
    s.next_block = 0;
    s.need_segment = true;
    return true;
}

static void rvx_demux_push_event(RvxDemux* demux, GstEvent* event) {
    DemuxState& s = *demux->state;
    for (GstPad* pad : {s.video_pad, s.sound_pad}) {
        if (pad) gst_pad_push_event(pad, gst_event_ref(event));
    }
    gst_event_unref(event);
}

static bool rvx_demux_video_pending(const DemuxState& s) {
    if (s.next_record >= s.reader.Frames().size()) return false;
    if (!GST_CLOCK_TIME_IS_VALID(s.segment.stop)) return true;
    // A group that starts after the segment's end has nothing to show in it.
    return s.timeline.GroupTime(s.reader.Frames()[s.next_record].group) < s.segment.stop;
}

static uint64_t rvx_demux_block_time(const DemuxState& s, uint32_t coded) {
    const uint32_t lag = s.timeline.SoundLag();
    // A priming block is stamped with the time of the block it prepares.
    return s.timeline.BlockTime(coded >= lag && !s.sound_discont ? coded - lag : coded);
}

static bool rvx_demux_sound_pending(const DemuxState& s) {
    if (!s.sound_pad || s.next_block >= s.block_offsets.size()) return false;
    return !GST_CLOCK_TIME_IS_VALID(s.segment.stop) || rvx_demux_block_time(s, s.next_block) < s.segment.stop;
}

// Reads length bytes at offset straight into a new buffer; null when they
// cannot be read.
static GstBuffer* rvx_demux_read_buffer(DemuxState& s, uint64_t offset, std::size_t length) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, length, nullptr);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        if (buffer) gst_buffer_unref(buffer);
        return nullptr;
    }
    const bool read = s.reader.ReadBytes(offset, length, map.data);
    gst_buffer_unmap(buffer, &map);
    if (!read) {
        gst_buffer_unref(buffer);
        return nullptr;
    }
    return buffer;
}

static GstFlowReturn rvx_demux_push_frame(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    const std::size_t k = s.next_record++;
    const RVXFrameInfo& frame = s.reader.Frames()[k];
    GstBuffer* buffer = rvx_demux_read_buffer(s, frame.record_offset,
                                              rvx_layout::kFrameRecordSize + std::size_t(frame.payload_length));
    if (!buffer) return GST_FLOW_ERROR;
    bool damaged = false;
    if (_rvxlib_::RecordType(frame.type) != _rvxlib_::kRecordRepeat) {
        GstMapInfo map;
        gst_buffer_map(buffer, &map, GST_MAP_READ);
        CHashCRC32 crc;
        crc.Update(map.data + rvx_layout::kFrameRecordSize, frame.payload_length);
        damaged = crc.Final() != frame.crc;
        gst_buffer_unmap(buffer, &map);
    }
    if (damaged) {
        GST_ELEMENT_WARNING(demux, STREAM, DECODE, ("Picture %u of the movie is damaged and is skipped.",
                                                    frame.display_number),
                            ("payload CRC mismatch in the record at offset %" G_GUINT64_FORMAT, frame.record_offset));
    }
    GST_BUFFER_PTS(buffer) = s.timeline.FrameTime(frame.display_number);
    const uint64_t dts = s.timeline.DecodeTime(k);
    GST_BUFFER_DTS(buffer) = dts == kNoTime ? GST_CLOCK_TIME_NONE : dts;
    GST_BUFFER_DURATION(buffer) = s.timeline.FrameDuration();
    GST_BUFFER_OFFSET(buffer) = frame.display_number;
    if (_rvxlib_::RecordType(frame.type) != _rvxlib_::kRecordI) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (damaged) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);
    if (s.video_discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    s.video_discont = false;
    const uint64_t pts = GST_BUFFER_PTS(buffer);
    if (pts > s.segment.position || !GST_CLOCK_TIME_IS_VALID(s.segment.position)) s.segment.position = pts;
    return gst_pad_push(s.video_pad, buffer);
}

static GstFlowReturn rvx_demux_push_block(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    const uint32_t index = s.next_block++;
    const uint64_t start = s.block_offsets[index];
    const uint64_t stop = index + 1 < s.block_offsets.size() ? s.block_offsets[index + 1] : s.blocks_end;
    GstBuffer* buffer = rvx_demux_read_buffer(s, s.reader.SoundOffset() + start, std::size_t(stop - start));
    if (!buffer) return GST_FLOW_ERROR;
    const uint64_t time = rvx_demux_block_time(s, index);
    GST_BUFFER_PTS(buffer) = time;
    GST_BUFFER_DTS(buffer) = time;
    GST_BUFFER_OFFSET(buffer) = index;
    if (s.sound_discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    s.sound_discont = false;
    return gst_pad_push(s.sound_pad, buffer);
}

static void rvx_demux_pause(RvxDemux* demux, GstFlowReturn flow) {
    DemuxState& s = *demux->state;
    GST_DEBUG_OBJECT(demux, "pausing: %s", gst_flow_get_name(flow));
    gst_pad_pause_task(demux->sinkpad);
    if (flow == GST_FLOW_EOS) {
        if (s.segment.flags & GST_SEGMENT_FLAG_SEGMENT) {
            const gint64 stop = GST_CLOCK_TIME_IS_VALID(s.segment.stop) ? gint64(s.segment.stop)
                                                                        : gint64(s.timeline.Duration());
            gst_element_post_message(GST_ELEMENT(demux),
                                     gst_message_new_segment_done(GST_OBJECT(demux), GST_FORMAT_TIME, stop));
            GstEvent* done = gst_event_new_segment_done(GST_FORMAT_TIME, stop);
            if (s.seek_seqnum) gst_event_set_seqnum(done, s.seek_seqnum);
            rvx_demux_push_event(demux, done);
        } else {
            GstEvent* eos = gst_event_new_eos();
            if (s.seek_seqnum) gst_event_set_seqnum(eos, s.seek_seqnum);
            rvx_demux_push_event(demux, eos);
        }
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        GST_ELEMENT_FLOW_ERROR(demux, flow);
        rvx_demux_push_event(demux, gst_event_new_eos());
    }
}

// The element at the top of the demuxer's pipeline (the demuxer itself
// when it has no parent), with a reference.
static GstElement* rvx_demux_top(RvxDemux* demux) {
    GstObject* top = GST_OBJECT(gst_object_ref(demux));
    while (GstObject* parent = gst_object_get_parent(top)) {
        gst_object_unref(top);
        top = parent;
    }
    return GST_ELEMENT(top);
}

// Whether the application may not hear an error posted now: a state change
// is under way at the top of the pipeline (its state lock is held until the
// change returns to whoever asked for it), or the application has not yet
// taken the messages posted before off the pipeline's bus.
static bool rvx_demux_application_busy(RvxDemux* demux) {
    GstElement* top = rvx_demux_top(demux);
    GRecMutex* lock = GST_STATE_GET_LOCK(top);
    bool busy = !g_rec_mutex_trylock(lock);
    if (!busy) g_rec_mutex_unlock(lock);
    if (GstBus* bus = gst_element_get_bus(top)) {
        busy = busy || gst_bus_have_pending(bus);
        gst_object_unref(bus);
    }
    gst_object_unref(top);
    return busy;
}

// The task reads the header right when the demuxer reaches PAUSED, and
// refusing the movie then is an error no pad will ever follow, so it must
// reach the application. Posted at once it can be lost two ways: a bin that
// tries the demuxer out (decodebin) keeps its state locked until it has
// decided to keep it and drops the errors it posts meanwhile, and an
// application that reacts to errors as they are posted but listens from a
// main loop it starts after setting the pipeline to PAUSED misses an error
// that comes before its loop runs (it has not read the earlier messages
// yet). Either would leave the pipeline prerolling for ever, so the error
// waits for both; but no longer than kMostWait, so that an application that
// waits for the pipeline to preroll before it reads its bus, or a parent that
// keeps the demuxer's state locked for good, still gets it. False when the
// pad flushes first (the demuxer is being shut down), which also keeps a
// state change that stops the task from waiting on it.
static bool rvx_demux_wait_until_heard(RvxDemux* demux) {
    constexpr gulong kPollMicroseconds = 1000;
    constexpr gint64 kMostWait = 2 * G_TIME_SPAN_SECOND;
    const gint64 deadline = g_get_monotonic_time() + kMostWait;
    while ((gst_element_is_locked_state(GST_ELEMENT(demux)) || rvx_demux_application_busy(demux)) &&
           g_get_monotonic_time() < deadline) {
        if (GST_PAD_IS_FLUSHING(demux->sinkpad)) return false;
        g_usleep(kPollMicroseconds);
    }
    return true;
}

// The movie cannot be played and no pad exists.
static void rvx_demux_refuse(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    if (!rvx_demux_wait_until_heard(demux)) return;
    GST_ELEMENT_ERROR(demux, STREAM, DEMUX, ("%s", s.refusal.c_str()),
                      ("%s", s.refusal_detail.empty() ? "no pad was added" : s.refusal_detail.c_str()));
}

static void rvx_demux_loop(GstPad* sinkpad) {
    RvxDemux* demux = RVX_DEMUX(GST_PAD_PARENT(sinkpad));
    DemuxState& s = *demux->state;
    if (!s.opened && !rvx_demux_open(demux)) {
        gst_pad_pause_task(sinkpad);
        if (!s.refusal.empty()) rvx_demux_refuse(demux);
        return;
    }
    if (s.need_segment) {
        GstEvent* segment = gst_event_new_segment(&s.segment);
        if (s.seek_seqnum) gst_event_set_seqnum(segment, s.seek_seqnum);
        rvx_demux_push_event(demux, segment);
        s.need_segment = false;
    }
    const bool video = rvx_demux_video_pending(s), sound = rvx_demux_sound_pending(s);
    if (!video && !sound) {
        rvx_demux_pause(demux, GST_FLOW_EOS);
        return;
    }
    // Interleave by time so that neither decoder starves the other's queue.
    bool take_video = video;
    if (video && sound) {
        const uint64_t frame_time = s.timeline.DecodeTime(s.next_record);
        const uint64_t block_time = rvx_demux_block_time(s, s.next_block);
        take_video = frame_time == kNoTime || frame_time <= block_time;
    }
    GstPad* pad = take_video ? s.video_pad : s.sound_pad;
    GstFlowReturn flow = take_video ? rvx_demux_push_frame(demux) : rvx_demux_push_block(demux);
    if (flow == GST_FLOW_ERROR && !GST_PAD_IS_FLUSHING(pad)) {
        auto* pad_source = dynamic_cast<CPadByteSource*>(s.source.get());
        if (pad_source && pad_source->Flushing()) {
            flow = GST_FLOW_FLUSHING;
        } else {
            GST_ELEMENT_ERROR(demux, RESOURCE, READ, ("The movie cannot be read any further."), (nullptr));
            gst_pad_pause_task(sinkpad);
            rvx_demux_push_event(demux, gst_event_new_eos());
            return;
        }
    }
    flow = gst_flow_combiner_update_pad_flow(s.combiner, pad, flow);
    if (flow != GST_FLOW_OK) rvx_demux_pause(demux, flow);
}

// Restarts playback at the seek's position: from the start of the group
// holding it (the decoder drops the pictures before an accurate target), or
// with the segment moved to that group's start for a key-unit seek.
static gboolean rvx_demux_seek(RvxDemux* demux, GstEvent* event) {
    DemuxState& s = *demux->state;
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType start_type, stop_type;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    if (format != GST_FORMAT_TIME || rate <= 0.0 || !s.opened) return FALSE;
    const bool flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
    const uint32_t seqnum = gst_event_get_seqnum(event);
    // A pipeline sends its seek through every sink, so it arrives once per
    // source pad.
    if (seqnum == s.seek_seqnum) return TRUE;
    if (flush) {
        GstEvent* flush_start = gst_event_new_flush_start();
        gst_event_set_seqnum(flush_start, seqnum);
        rvx_demux_push_event(demux, flush_start);
    } else {
        gst_pad_pause_task(demux->sinkpad);
    }
    GST_PAD_STREAM_LOCK(demux->sinkpad);
    GstSegment segment = s.segment;
    gboolean update = FALSE;
    gst_segment_do_seek(&segment, rate, format, flags, start_type, start, stop_type, stop, &update);
    uint64_t target = segment.position;
    const bool past_end = target >= s.timeline.Duration();
    const uint32_t group = s.timeline.GroupAt(target);
    if ((flags & GST_SEEK_FLAG_KEY_UNIT) && !past_end) {
        const uint64_t key = std::min<uint64_t>(s.timeline.GroupTime(group), target);
        segment.start = segment.position = segment.time = key;
        target = key;
    }
    s.next_record = past_end ? s.reader.Frames().size() : s.timeline.FirstRecordOf(group);
    const uint32_t block = s.timeline.BlockAt(target);
    s.next_block = past_end ? uint32_t(s.block_offsets.size()) : block;
    s.video_discont = s.sound_discont = true;
    s.segment = segment;
    s.need_segment = true;
    s.seek_seqnum = seqnum;
    gst_flow_combiner_reset(s.combiner);
    if (flush) {
        GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flush_stop, seqnum);
        rvx_demux_push_event(demux, flush_stop);
    }
    if (segment.flags & GST_SEGMENT_FLAG_SEGMENT) {
        GstMessage* message = gst_message_new_segment_start(GST_OBJECT(demux), GST_FORMAT_TIME, gint64(segment.start));
        gst_message_set_seqnum(message, seqnum);
        gst_element_post_message(GST_ELEMENT(demux), message);
    }
    gst_pad_start_task(demux->sinkpad, reinterpret_cast<GstTaskFunction>(rvx_demux_loop), demux->sinkpad, nullptr);
    GST_PAD_STREAM_UNLOCK(demux->sinkpad);
    return TRUE;
}

static gboolean rvx_demux_src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    RvxDemux* demux = RVX_DEMUX(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        const gboolean done = rvx_demux_seek(demux, event);
        gst_event_unref(event);
        return done;
    }
    // Upstream of the demuxer there is only a byte stream: nothing else of
    // the movie's events means anything to it.
    if (GST_EVENT_TYPE(event) == GST_EVENT_QOS || GST_EVENT_TYPE(event) == GST_EVENT_NAVIGATION) {
        gst_event_unref(event);
        return TRUE;
    }
    return gst_pad_event_default(pad, parent, event);
}

static gboolean rvx_demux_src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    RvxDemux* demux = RVX_DEMUX(parent);
    DemuxState& s = *demux->state;
    GstFormat format;
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION:
        gst_query_parse_duration(query, &format, nullptr);
        if (format != GST_FORMAT_TIME || !s.opened) return FALSE;
        gst_query_set_duration(query, GST_FORMAT_TIME, gint64(s.timeline.Duration()));
        return TRUE;
    case GST_QUERY_POSITION:
        gst_query_parse_position(query, &format, nullptr);
        if (format != GST_FORMAT_TIME || !s.opened || !GST_CLOCK_TIME_IS_VALID(s.segment.position)) return FALSE;
        gst_query_set_position(query, GST_FORMAT_TIME, gint64(s.segment.position));
        return TRUE;
    case GST_QUERY_SEEKING:
        gst_query_parse_seeking(query, &format, nullptr, nullptr, nullptr);
        if (format != GST_FORMAT_TIME) return FALSE;
        gst_query_set_seeking(query, GST_FORMAT_TIME, s.opened, 0, gint64(s.timeline.Duration()));
        return TRUE;
    case GST_QUERY_SEGMENT: {
        const gint64 start = gst_segment_to_stream_time(&s.segment, GST_FORMAT_TIME, s.segment.start);
        const gint64 stop = GST_CLOCK_TIME_IS_VALID(s.segment.stop)
                                ? gst_segment_to_stream_time(&s.segment, GST_FORMAT_TIME, s.segment.stop)
                                : gint64(s.timeline.Duration());
        gst_query_set_segment(query, s.segment.rate, GST_FORMAT_TIME, start, stop);
        return TRUE;
    }
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

// Push mode: the bytes are kept until the stream ends, then played from
// memory by the same loop as in pull mode. Bytes after the end the header
// gives are counted and dropped.
static GstFlowReturn rvx_demux_chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    RvxDemux* demux = RVX_DEMUX(parent);
    DemuxState& s = *demux->state;
    GstMapInfo map;
    if (!s.push_ended && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        bool refused = false;
        AcceptRegionFromLibrary(map.data, map.size);
        std::size_t keep = map.size;
        const std::size_t sizeField = rvx_layout::kOffsetFileSize + 8;
        if (s.pushed.size() >= sizeField) {
            const uint64_t end = LoadLE64(s.pushed.data() + rvx_layout::kOffsetFileSize);
            const uint64_t room = end > s.pushed.size() ? end - s.pushed.size() : 0;
            keep = std::size_t(std::min<uint64_t>(room, map.size));
        }
        s.pushed_beyond += map.size - keep;
        try {
            s.pushed.insert(s.pushed.end(), map.data, map.data + keep);
        } catch (const std::bad_alloc&) {
            refused = true;
        }
        gst_buffer_unmap(buffer, &map);
        if (refused) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(demux, RESOURCE, NO_SPACE_LEFT, ("The movie does not fit into memory."), (nullptr));
            return GST_FLOW_ERROR;
        }
        // Anything that cannot be a movie is refused before it fills memory.
        if (s.pushed.size() >= sizeof rvx_layout::kMagic &&
            std::memcmp(s.pushed.data(), rvx_layout::kMagic, sizeof rvx_layout::kMagic) != 0) {
            gst_buffer_unref(buffer);
            GST_ELEMENT_ERROR(demux, STREAM, WRONG_TYPE, ("The stream is no .rvx movie."), (nullptr));
            return GST_FLOW_ERROR;
        }
    }
    gst_buffer_unref(buffer);
    return GST_FLOW_OK;
}

static gboolean rvx_demux_sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    RvxDemux* demux = RVX_DEMUX(parent);
    DemuxState& s = *demux->state;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
        gst_event_unref(event);
        if (s.pull_mode || s.push_ended) return TRUE;
        s.push_ended = true;
        return gst_pad_start_task(pad, reinterpret_cast<GstTaskFunction>(rvx_demux_loop), pad, nullptr);
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
    case GST_EVENT_STREAM_START:
    case GST_EVENT_FLUSH_START:
    case GST_EVENT_FLUSH_STOP:
        // The demuxer makes its own streams, segments and flushes.
        gst_event_unref(event);
        return TRUE;
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

static gboolean rvx_demux_sink_activate(GstPad* sinkpad, GstObject*) {
    GstQuery* query = gst_query_new_scheduling();
    bool pull = false;
    if (gst_pad_peer_query(sinkpad, query)) {
        pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
    }
    gst_query_unref(query);
    return gst_pad_activate_mode(sinkpad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

static gboolean rvx_demux_sink_activate_mode(GstPad* sinkpad, GstObject* parent, GstPadMode mode, gboolean active) {
    RvxDemux* demux = RVX_DEMUX(parent);
    DemuxState& s = *demux->state;
    if (!active) return gst_pad_stop_task(sinkpad);
    s.pull_mode = mode == GST_PAD_MODE_PULL;
    if (s.pull_mode) {
        return gst_pad_start_task(sinkpad, reinterpret_cast<GstTaskFunction>(rvx_demux_loop), sinkpad, nullptr);
    }
    return TRUE;
}

static void rvx_demux_reset(RvxDemux* demux) {
    DemuxState& s = *demux->state;
    rvx_demux_remove_pads(demux);
    s.reader.Close();
    s.source.reset();
    s.pushed.clear();
    s.pushed.shrink_to_fit();
    s.pushed_beyond = 0;
    s.push_ended = false;
    s.opened = false;
    s.next_record = 0;
    s.next_block = 0;
    s.video_discont = s.sound_discont = true;
    s.need_segment = true;
    s.seek_seqnum = 0;
    gst_segment_init(&s.segment, GST_FORMAT_TIME);
    gst_flow_combiner_reset(s.combiner);
}

static GstStateChangeReturn rvx_demux_change_state(GstElement* element, GstStateChange transition) {
    RvxDemux* demux = RVX_DEMUX(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) rvx_demux_reset(demux);
    const GstStateChangeReturn result = GST_ELEMENT_CLASS(rvx_demux_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) rvx_demux_reset(demux);
    return result;
}

static void rvx_demux_finalize(GObject* object) {
    RvxDemux* demux = RVX_DEMUX(object);
    gst_flow_combiner_free(demux->state->combiner);
    delete demux->state;
    G_OBJECT_CLASS(rvx_demux_parent_class)->finalize(object);
}

static void rvx_demux_class_init(RvxDemuxClass* klass) {
    GST_DEBUG_CATEGORY_INIT(rvx_demux_debug, "rvxdemux", 0, ".rvx movie demuxer");
    G_OBJECT_CLASS(klass)->finalize = rvx_demux_finalize;
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    element_class->change_state = rvx_demux_change_state;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &video_template);
    gst_element_class_add_static_pad_template(element_class, &sound_template);
    gst_element_class_set_static_metadata(element_class, "RVX movie demuxer", "Codec/Demuxer",
                                          "Splits an .rvx movie into its coded pictures and SNX sound blocks",
                                          "RVX Encoder developers <rvx-encoder@localhost>");
}

static void rvx_demux_init(RvxDemux* demux) {
    demux->state = new DemuxState;
    demux->state->combiner = gst_flow_combiner_new();
    gst_segment_init(&demux->state->segment, GST_FORMAT_TIME);
    demux->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_activate_function(demux->sinkpad, rvx_demux_sink_activate);
    gst_pad_set_activatemode_function(demux->sinkpad, rvx_demux_sink_activate_mode);
    gst_pad_set_chain_function(demux->sinkpad, rvx_demux_chain);
    gst_pad_set_event_function(demux->sinkpad, rvx_demux_sink_event);
    gst_element_add_pad(GST_ELEMENT(demux), demux->sinkpad);
}
