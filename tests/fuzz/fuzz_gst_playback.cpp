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

// Reads the bus until the stream ends or fails (true), or the bound passes.
bool RunToEnd(GstElement* pipeline, GstMessageType until) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, kBound, GstMessageType(until | GST_MESSAGE_ERROR));
    const bool ended = message != nullptr;
    if (message) gst_message_unref(message);
    gst_object_unref(bus);
    return ended;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InitOnce();
    static fuzz_input::MemoryFile file;
    const std::string& path = file.Write(data, size);
    const bool push = size % 2 == 1;
    const std::string description = "filesrc location=" + path + (push ? " ! queue" : "") +
                                    " ! rvxdemux name=d d.video ! queue ! rvxvideodec ! fakesink d.audio ! queue ! "
                                    "snxaudiodec ! fakesink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error || !pipeline) __builtin_trap();
    bool ended = true;
    if (size % 3 == 0) {
        gst_element_set_state(pipeline, GST_STATE_PAUSED);
        ended = RunToEnd(pipeline, GST_MESSAGE_ASYNC_DONE);
        gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                GstClockTime(size % 7) * GST_SECOND / 10);
    }
    if (ended) {
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        ended = RunToEnd(pipeline, GST_MESSAGE_EOS);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    if (!ended) __builtin_trap();
    return 0;
}
