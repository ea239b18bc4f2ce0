#include "jobs/movie_sink.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

namespace {

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    const int result = static_cast<CMovieSink*>(self)->Render(sample);
    gst_sample_unref(sample);
    return static_cast<GstFlowReturn>(result);
}

}  // namespace

CMovieSink::CMovieSink(std::mutex& lock, const char* name, const char* caps_text) : lock_(lock) {
    sink_ = gst_element_factory_make("appsink", name);
    if (!sink_) return;
    gst_object_ref_sink(sink_);
    GstCaps* caps = gst_caps_from_string(caps_text);
    g_object_set(sink_, "caps", caps, "sync", FALSE, "max-buffers", 1u, "drop", FALSE, "enable-last-sample",
                 FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
}

CMovieSink::~CMovieSink() {
    if (sink_) gst_object_unref(sink_);
}

GstCaps* CMovieSink::NegotiatedCaps() const {
    if (!sink_) return nullptr;
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    if (!pad) return nullptr;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    gst_object_unref(pad);
    return caps;
}

void CMovieSink::PostError(const std::string& text) {
    GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, text.c_str());
    gst_element_post_message(sink_, gst_message_new_error(GST_OBJECT(sink_), error, nullptr));
    g_error_free(error);
}
