#include "jobs/sound_tracks.h"

#include <cstdio>

#include "jobs/ffmpeg_api.h"
#include "jobs/ffmpeg_stream_input.h"

namespace {

// The stream's own name first: an AVI file keeps a name for a stream
// ("Japanese", "commentary") but no language.
std::string Describe(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    std::string description;
    if (const AVDictionaryEntry* name = Ffmpeg().av_dict_get(stream->metadata, "title", nullptr, 0))
        if (name->value && *name->value) description = std::string(name->value) + ", ";
    const AVCodecDescriptor* codec = Ffmpeg().avcodec_descriptor_get(par->codec_id);
    if (!codec)
        description += "sound";
    else
        description += codec->long_name && *codec->long_name ? codec->long_name : codec->name;
    if (par->sample_rate > 0) {
        const int tenths = (par->sample_rate + 50) / 100;
        char rate[32];
        if (tenths % 10)
            std::snprintf(rate, sizeof rate, ", %d.%d kHz", tenths / 10, tenths % 10);
        else
            std::snprintf(rate, sizeof rate, ", %d kHz", tenths / 10);
        description += rate;
    }
    const int channels = par->ch_layout.nb_channels;
    if (channels > 0) description += ", " + std::to_string(channels) + (channels == 1 ? " channel" : " channels");
    return description;
}

}  // namespace

std::vector<SoundTrackInfo> AviSoundTracks(const std::string& path) {
    std::vector<SoundTrackInfo> tracks;
    if (!LoadFfmpeg()) return tracks;
    QuietFfmpegLog();
    const AVInputFormat* demuxer = Ffmpeg().av_find_input_format("avi");
    AVFormatContext* format = nullptr;
    if (!demuxer || Ffmpeg().avformat_open_input(&format, path.c_str(), demuxer, nullptr) < 0) return tracks;
    // Counted as the sound reader counts them when it picks a track.
    if (Ffmpeg().avformat_find_stream_info(format, nullptr) >= 0) {
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* s = format->streams[i];
            if (s->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || (s->disposition & AV_DISPOSITION_ATTACHED_PIC))
                continue;
            SoundTrackInfo track;
            if (const AVDictionaryEntry* language = Ffmpeg().av_dict_get(s->metadata, "language", nullptr, 0))
                track.language = language->value;
            track.description = Describe(s);
            tracks.push_back(std::move(track));
        }
    }
    Ffmpeg().avformat_close_input(&format);
    return tracks;
}
