// A whole movie through the plug-in: the demuxer (in pull mode for even
// sizes, push mode for odd ones), the video and sound decoders, and for
// every third input a seek into the middle. Each input must end with the
// end of the stream or an error message within the time bound; a pipeline
// that does neither has hung.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "gst/plugin_elements.h"

namespace {

// Inside the fuzzer's own per-input limit, so a hang is reported as one.
constexpr GstClockTime kBound = 8 * GST_SECOND;

void InitOnce() {
    static const bool ready = [] {
        gst_init(nullptr, nullptr);
        return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "rvx", "fuzzed elements",
                                          RegisterRvxElements, "0", "unknown", "rvx-encoder", "rvx-encoder",
                                          "https://localhost/rvx-encoder");
    }();
    if (!ready) __builtin_trap();
}

// Gives each stream the demuxer opens a decoder and a sink, as decodebin
// would: a branch for a stream that never comes would keep the pipeline
// from prerolling.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* pipeline = static_cast<GstElement*>(data);
    const bool video = std::string(GST_PAD_NAME(pad)) == "video";
    GstElement* branch = gst_parse_bin_from_description(
        video ? "queue ! rvxvideodec ! fakesink" : "queue ! snxaudiodec ! fakesink", TRUE, nullptr);
    if (!branch) __builtin_trap();
    gst_bin_add(GST_BIN(pipeline), branch);
    GstPad* sink = gst_element_get_static_pad(branch, "sink");
    gst_pad_link(pad, sink);
    gst_object_unref(sink);
    gst_element_sync_state_with_parent(branch);
}

enum class Outcome { kReached, kFailed, kHung };

// Reads the bus until the awaited message, an error, or the bound.
Outcome RunUntil(GstElement* pipeline, GstMessageType until) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, kBound, GstMessageType(until | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    if (!message) return Outcome::kHung;
    const Outcome outcome = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ? Outcome::kFailed : Outcome::kReached;
    gst_message_unref(message);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InitOnce();
    static fuzz_input::MemoryFile file;
    const std::string& path = file.Write(data, size);
    const bool push = size % 2 == 1;
    const std::string description = "filesrc location=" + path + (push ? " ! queue" : "") + " ! rvxdemux name=d";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error || !pipeline) __builtin_trap();
    GstElement* demuxer = gst_bin_get_by_name(GST_BIN(pipeline), "d");
    g_signal_connect(demuxer, "pad-added", G_CALLBACK(OnPadAdded), pipeline);
    gst_object_unref(demuxer);
    Outcome outcome = Outcome::kReached;
    if (size % 3 == 0) {
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        outcome = RunUntil(pipeline, GST_MESSAGE_ASYNC_DONE);
        if (outcome == Outcome::kReached) {
            gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                    GstClockTime(size % 7) * GST_SECOND / 10);
        }
    }
    if (outcome == Outcome::kReached) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        outcome = RunUntil(pipeline, GST_MESSAGE_EOS);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    if (outcome == Outcome::kHung) __builtin_trap();
    return 0;
}
