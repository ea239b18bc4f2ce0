#include "jobs/avi_sound_reader.h"

#include <algorithm>
#include <cstring>

#include "jobs/ffmpeg_api.h"
#include "support/region_check.h"

namespace {

// More channels than this is a damaged header, not a movie.
constexpr int kMaxChannels = 64;

AVSampleFormat OutputSampleFormat(uint16_t bits) {
    switch (bits) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    default:
        return AV_SAMPLE_FMT_S32;  // 24-bit samples are packed from these
    }
}

std::vector<uint8_t> SourceWaveFormat(const AVCodecParameters* par) {
    WaveFormatEx f;
    f.format_tag = par->codec_tag <= 0xFFFF ? static_cast<uint16_t>(par->codec_tag) : 0;
    f.channels = static_cast<uint16_t>(par->ch_layout.nb_channels);
    f.samples_per_second = static_cast<uint32_t>(par->sample_rate);
    f.block_alignment = static_cast<uint16_t>(par->block_align);
    f.bits_per_sample = static_cast<uint16_t>(par->bits_per_coded_sample);
    // Uncompressed sound runs at exactly rate x block size; for compressed
    // sound the stream's bit rate is all there is.
    const int sample_bits = Ffmpeg().av_get_bits_per_sample(par->codec_id);
    if (sample_bits > 0 && par->sample_rate > 0)
        f.average_bytes_per_second = static_cast<uint32_t>(
            static_cast<uint64_t>(par->sample_rate) *
            (par->block_align > 0 ? uint64_t(par->block_align) : uint64_t(sample_bits) * f.channels / 8));
    else
        f.average_bytes_per_second = static_cast<uint32_t>(par->bit_rate > 0 ? par->bit_rate / 8 : 0);
    const size_t extra = par->extradata && par->extradata_size > 0
                             ? std::min<size_t>(size_t(par->extradata_size), 0xFFFF - sizeof f)
                             : 0;
    f.extra_size = static_cast<uint16_t>(extra);
    std::vector<uint8_t> bytes(sizeof f + extra);
    std::memcpy(bytes.data(), &f, sizeof f);
    if (extra) std::memcpy(bytes.data() + sizeof f, par->extradata, extra);
    return bytes;
}

}  // namespace

CAviSoundReader::~CAviSoundReader() { Close(); }

void CAviSoundReader::Close() {
    input_.Close();
    if (converter_) Ffmpeg().swr_free(&converter_);
    if (frame_) Ffmpeg().av_frame_free(&frame_);
    output_.clear();
    output_.shrink_to_fit();
    source_.clear();
    decoded_ = WaveFormatEx{};
    converter_format_ = -1;
    converter_rate_ = converter_channels_ = 0;
    skip_to_sample_ = 0;
    ended_ = false;
}

int32_t CAviSoundReader::Open(const std::string& path, unsigned track) {
    Close();
    const int32_t opened = input_.Open(path, "avi", CFfmpegStreamInput::Kind::kSound, track);
    if (opened != kAviOk) return opened;
    path_ = path;
    const AVCodecParameters* par = input_.Stream()->codecpar;
    source_ = SourceWaveFormat(par);
    const int channels = par->ch_layout.nb_channels;
    if (channels <= 0 || channels > kMaxChannels || par->sample_rate <= 0) return kAviOk;  // not decodable
    const int bits = par->bits_per_coded_sample;
    const bool stated = bits == 8 || bits == 16 || bits == 24 || bits == 32;
    decoded_.format_tag = 1;
    decoded_.channels = static_cast<uint16_t>(channels);
    decoded_.samples_per_second = static_cast<uint32_t>(par->sample_rate);
    decoded_.bits_per_sample = static_cast<uint16_t>(stated ? bits : 16);
    decoded_.block_alignment = static_cast<uint16_t>(channels * decoded_.bits_per_sample / 8);
    decoded_.average_bytes_per_second = decoded_.samples_per_second * decoded_.block_alignment;
    decoded_.extra_size = 0;
    return kAviOk;
}

bool CAviSoundReader::Configure(const AVFrame* frame) {
    const int channels = frame->ch_layout.nb_channels;
    if (converter_ && frame->format == converter_format_ && frame->sample_rate == converter_rate_ &&
        channels == converter_channels_)
        return true;
    Ffmpeg().swr_free(&converter_);
    if (channels <= 0 || frame->sample_rate <= 0) return false;
    // Zeroed: copying into a layout first frees what it holds, and a layout
    // of stack garbage may look like one holding a channel map.
    AVChannelLayout in_layout{}, out_layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        Ffmpeg().av_channel_layout_default(&in_layout, channels);
    else if (Ffmpeg().av_channel_layout_copy(&in_layout, &frame->ch_layout) < 0)
        return false;
    Ffmpeg().av_channel_layout_default(&out_layout, decoded_.channels);
    // A stream that changes its rate or channels midway is brought back to
    // the format announced at the start.
    const int made = Ffmpeg().swr_alloc_set_opts2(&converter_, &out_layout, OutputSampleFormat(decoded_.bits_per_sample),
                                         int(decoded_.samples_per_second), &in_layout,
                                         static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    Ffmpeg().av_channel_layout_uninit(&in_layout);
    Ffmpeg().av_channel_layout_uninit(&out_layout);
    if (made < 0 || Ffmpeg().swr_init(converter_) < 0) {
        Ffmpeg().swr_free(&converter_);
        return false;
    }
    converter_format_ = frame->format;
    converter_rate_ = frame->sample_rate;
    converter_channels_ = channels;
    return true;
}

int64_t CAviSoundReader::Convert(const AVFrame* frame) {
    if (frame && !Configure(frame)) return -1;
    if (!converter_) return 0;
    const int in_samples = frame ? frame->nb_samples : 0;
    const int capacity = Ffmpeg().swr_get_out_samples(converter_, in_samples);
    if (capacity < 0) return -1;
    const bool packed24 = decoded_.bits_per_sample == 24;
    const size_t sample_bytes = packed24 ? 4 : decoded_.bits_per_sample / 8;
    // With slack past the samples: the converter's SIMD code may write whole
    // vectors at the end of a block.
    const size_t wanted = ((static_cast<size_t>(capacity) * decoded_.channels * sample_bytes + 15) & ~size_t{15}) + 64;
    if (wanted > output_.size()) output_.resize(wanted);
    uint8_t* out = output_.data();
    CheckRegionForLibrary(out, wanted);
    const int got = Ffmpeg().swr_convert(converter_, &out, capacity, frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr,
                                in_samples);
    if (got < 0) return -1;
    const size_t values = static_cast<size_t>(got) * decoded_.channels;
    if (packed24) {
        // The top three bytes of each 32-bit sample, in place: the write
        // position never passes the read position.
        for (size_t i = 0; i < values; ++i) std::memmove(&output_[3 * i], &output_[4 * i + 1], 3);
        return static_cast<int64_t>(values * 3);
    }
    return static_cast<int64_t>(values * sample_bytes);
}

int32_t CAviSoundReader::Read(const uint8_t** data, uint32_t* length) {
    if (!data || !length) return kAviInvalidPointer;
    if (!input_.IsOpen()) return kAviNoData;
    if (!CanDecode()) return kAviNoInterface;
    if (ended_) return kAviEndOfStream;
    if (!frame_ && !(frame_ = Ffmpeg().av_frame_alloc())) return kAviOutOfMemory;
    for (;;) {
        const CFfmpegStreamInput::DecodeResult got = input_.Decode(frame_);
        if (got == CFfmpegStreamInput::DecodeResult::kRejected) continue;
        int64_t bytes;
        if (got == CFfmpegStreamInput::DecodeResult::kEnd) {
            ended_ = true;
            bytes = Convert(nullptr);  // what the converter still holds
            if (bytes <= 0) return kAviEndOfStream;
        } else {
            // Before the sample sought: dropped whole; a partial first block
            // is trimmed below.
            int64_t drop = 0;
            const int64_t time = frame_->best_effort_timestamp;
            if (skip_to_sample_ > 0 && time != AV_NOPTS_VALUE) {
                const AVStream* st = input_.Stream();
                const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
                const int64_t first = Ffmpeg().av_rescale_q(time - start, st->time_base,
                                                   AVRational{1, int(decoded_.samples_per_second)});
                drop = skip_to_sample_ - first;
                if (drop >= frame_->nb_samples) {
                    Ffmpeg().av_frame_unref(frame_);
                    continue;
                }
            }
            skip_to_sample_ = 0;
            bytes = Convert(frame_);
            Ffmpeg().av_frame_unref(frame_);
            if (bytes < 0) return kAviFail;
            const int64_t drop_bytes = std::clamp<int64_t>(drop * decoded_.block_alignment, 0, bytes);
            if (drop_bytes > 0) {
                std::memmove(output_.data(), output_.data() + drop_bytes, size_t(bytes - drop_bytes));
                bytes -= drop_bytes;
            }
            if (bytes == 0) continue;
        }
        *data = output_.data();
        *length = static_cast<uint32_t>(bytes);
        return kAviOk;
    }
}

int32_t CAviSoundReader::SeekToMs(int64_t ms) {
    if (!input_.IsOpen()) return kAviNoData;
    const AVStream* s = input_.Stream();
    const int64_t start = s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time;
    // The sample at that millisecond, truncated, as the frame's time is.
    const int64_t sample = decoded_.samples_per_second ? (ms < 0 ? 0 : ms) * decoded_.samples_per_second / 1000 : 0;
    const int64_t target =
        start + Ffmpeg().av_rescale_q_rnd(sample, AVRational{1, int(decoded_.samples_per_second ? decoded_.samples_per_second : 1)},
                                 s->time_base, AV_ROUND_DOWN);
    if (!input_.SeekTo(target)) {
        const std::string path = path_;
        if (Open(path) != kAviOk) return kAviFail;
        input_.SeekTo(target);
    }
    if (converter_) Ffmpeg().swr_init(converter_);  // forgets what it held
    skip_to_sample_ = sample;
    ended_ = false;
    return kAviOk;
}
