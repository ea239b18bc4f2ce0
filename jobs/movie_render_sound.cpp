#include "jobs/movie_render_sound.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>
#include <gst/gst.h>

namespace {

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) return GST_FLOW_EOS;
    const int result = static_cast<CMovieRenderSound*>(self)->Render(sample);
    gst_sample_unref(sample);
    return static_cast<GstFlowReturn>(result);
}

bool ReadAudioInfo(GstCaps* caps, GstAudioInfo& info) {
    return caps && gst_audio_info_from_caps(&info, caps) && GST_AUDIO_INFO_FORMAT(&info) == GST_AUDIO_FORMAT_S16LE &&
           GST_AUDIO_INFO_LAYOUT(&info) == GST_AUDIO_LAYOUT_INTERLEAVED && GST_AUDIO_INFO_CHANNELS(&info) > 0 &&
           GST_AUDIO_INFO_CHANNELS(&info) <= 0xFFFF / 2 && GST_AUDIO_INFO_RATE(&info) > 0;
}

}  // namespace

CMovieRenderSound::CMovieRenderSound(std::mutex& lock) : lock_(lock) {
    sink_ = gst_element_factory_make("appsink", "Encode Render Sound");
    if (!sink_) return;
    gst_object_ref_sink(sink_);
    GstCaps* caps = gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved");
    g_object_set(sink_, "caps", caps, "sync", FALSE, "max-buffers", 1u, "drop", FALSE, "enable-last-sample",
                 FALSE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &OnNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink_), &callbacks, this, nullptr);
}

CMovieRenderSound::~CMovieRenderSound() {
    if (sink_) gst_object_unref(sink_);
}

bool CMovieRenderSound::ReadFormat() {
    if (!sink_) return false;
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    GstCaps* caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
    GstAudioInfo info;
    const bool ok = ReadAudioInfo(caps, info);
    if (ok) {
        const uint32_t channels = static_cast<uint32_t>(GST_AUDIO_INFO_CHANNELS(&info));
        const uint32_t rate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info));
        format_.format_tag = 1;
        format_.channels = static_cast<uint16_t>(channels);
        format_.samples_per_second = rate;
        format_.block_alignment = static_cast<uint16_t>(channels * 2);
        format_.average_bytes_per_second = rate * channels * 2;
        format_.bits_per_sample = 16;
    }
    if (caps) gst_caps_unref(caps);
    if (pad) gst_object_unref(pad);
    return ok;
}

void CMovieRenderSound::PostError(const std::string& text) {
    GError* error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, text.c_str());
    gst_element_post_message(sink_, gst_message_new_error(GST_OBJECT(sink_), error, nullptr));
    g_error_free(error);
}

int CMovieRenderSound::Render(GstSample* sample) {
    if (stopping_) return GST_FLOW_FLUSHING;
    // The staged file has one header for the whole movie; sound that changes
    // its rate or channels midway would be written as noise.
    GstAudioInfo info;
    if (!ReadAudioInfo(gst_sample_get_caps(sample), info) ||
        static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info)) != format_.samples_per_second ||
        static_cast<uint32_t>(GST_AUDIO_INFO_CHANNELS(&info)) != format_.channels) {
        PostError("the sound format changed in the middle of the movie");
        return GST_FLOW_ERROR;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        PostError("a decoded sound block could not be read");
        return GST_FLOW_ERROR;
    }
    long result;
    {
        std::lock_guard<std::mutex> hold(lock_);
        result = block_.is_bound() ? block_(map.data, static_cast<unsigned int>(map.size)) : 0;
    }
    gst_buffer_unmap(buffer, &map);
    return result != 0 ? GST_FLOW_ERROR : GST_FLOW_OK;
}
