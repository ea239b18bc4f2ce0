#include "jobs/movie_render_sound.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>

namespace {

bool ReadAudioInfo(GstCaps* caps, GstAudioInfo& info) {
    return caps && gst_audio_info_from_caps(&info, caps) && GST_AUDIO_INFO_FORMAT(&info) == GST_AUDIO_FORMAT_S16LE &&
           GST_AUDIO_INFO_LAYOUT(&info) == GST_AUDIO_LAYOUT_INTERLEAVED && GST_AUDIO_INFO_CHANNELS(&info) > 0 &&
           GST_AUDIO_INFO_CHANNELS(&info) <= 0xFFFF / 2 && GST_AUDIO_INFO_RATE(&info) > 0;
}

}  // namespace

CMovieRenderSound::CMovieRenderSound(std::mutex& lock) : CMovieSink(lock, "Encode Render Sound", "audio/x-raw,format=S16LE,layout=interleaved") {}

bool CMovieRenderSound::ReadFormat() {
    GstCaps* caps = NegotiatedCaps();
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
    return ok;
}

int CMovieRenderSound::Render(GstSample* sample) {
    if (Stopping()) return GST_FLOW_FLUSHING;
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
