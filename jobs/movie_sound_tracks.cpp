#include "jobs/movie_sound_tracks.h"

#include <algorithm>
#include <memory>

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include "jobs/movie_pipeline.h"

namespace {

// As long as a movie is given to reach its first picture in the job.
constexpr GstClockTime kDiscoverTimeout = 20 * GST_SECOND;

std::string Describe(GstDiscovererAudioInfo* audio) {
    std::string codec;
    GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(audio));
    if (caps) {
        gchar* text = gst_pb_utils_get_codec_description(caps);
        if (text) codec = text;
        g_free(text);
        gst_caps_unref(caps);
    }
    std::string description = codec.empty() ? "sound" : codec;
    const guint rate = gst_discoverer_audio_info_get_sample_rate(audio);
    const guint channels = gst_discoverer_audio_info_get_channels(audio);
    if (rate > 0) {
        const guint tenths = (rate + 50) / 100;
        description += ", ";
        description += std::to_string(tenths / 10);
        if (tenths % 10) description.append(".").append(std::to_string(tenths % 10));
        description += " kHz";
    }
    if (channels > 0) description += ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    return description;
}

std::string Language(GstDiscovererAudioInfo* audio) {
    if (const gchar* code = gst_discoverer_audio_info_get_language(audio)) return code;
    std::string language;
    const GstTagList* tags = gst_discoverer_stream_info_get_tags(GST_DISCOVERER_STREAM_INFO(audio));
    gchar* code = nullptr;
    if (tags && gst_tag_list_get_string(tags, GST_TAG_LANGUAGE_CODE, &code) && code) language = code;
    g_free(code);
    return language;
}

}  // namespace

bool ListMovieSoundStreams(const std::string& path, std::vector<MovieSoundStream>& streams, std::string& reason) {
    streams.clear();
    if (!InitMediaFramework(reason)) return false;
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    if (!uri) {
        reason = std::string("the path cannot be made a URI: ") + (error ? error->message : "");
        if (error) g_error_free(error);
        return false;
    }
    GstDiscoverer* discoverer = gst_discoverer_new(kDiscoverTimeout, &error);
    if (!discoverer) {
        g_free(uri);
        reason = std::string("GStreamer cannot examine movies: ") + (error ? error->message : "");
        if (error) g_error_free(error);
        return false;
    }
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
    g_free(uri);
    if (error) g_error_free(error);
    if (info) {
        GList* list = gst_discoverer_info_get_audio_streams(info);
        for (GList* item = list; item; item = item->next) {
            auto* audio = GST_DISCOVERER_AUDIO_INFO(item->data);
            const gchar* id = gst_discoverer_stream_info_get_stream_id(GST_DISCOVERER_STREAM_INFO(audio));
            streams.push_back({id ? id : "", {Language(audio), Describe(audio)}});
        }
        gst_discoverer_stream_info_list_free(list);
        gst_discoverer_info_unref(info);
    }
    g_object_unref(discoverer);
    // The decoder hands out streams of one kind sorted by their ids, those
    // without one last; the listing keeps that order whatever order the
    // examination found them in.
    std::stable_sort(streams.begin(), streams.end(), [](const MovieSoundStream& a, const MovieSoundStream& b) {
        if (a.stream_id.empty() != b.stream_id.empty()) return b.stream_id.empty();
        return a.stream_id < b.stream_id;
    });
    return true;
}

std::vector<SoundTrackInfo> MovieSoundTracks(const std::string& path) {
    std::vector<MovieSoundStream> streams;
    std::string reason;
    std::vector<SoundTrackInfo> tracks;
    if (!ListMovieSoundStreams(path, streams, reason)) return tracks;
    for (MovieSoundStream& stream : streams) tracks.push_back(std::move(stream.info));
    return tracks;
}
