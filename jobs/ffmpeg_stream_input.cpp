#include "jobs/ffmpeg_stream_input.h"

#include <cerrno>
#include <mutex>

#include "jobs/ffmpeg_api.h"

#include "jobs/avi_formats.h"

void QuietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { Ffmpeg().av_log_set_level(AV_LOG_QUIET); });
}

int64_t CFfmpegStreamInput::TakePendingTime() {
    if (pending_times_.empty()) return -1;
    const int64_t time = pending_times_.front();
    pending_times_.pop_front();
    return time;
}

CFfmpegStreamInput::~CFfmpegStreamInput() { Close(); }

void CFfmpegStreamInput::Close() {
    // Nothing was made unless FFmpeg's libraries are loaded.
    if (codec_) Ffmpeg().avcodec_free_context(&codec_);
    if (packet_) Ffmpeg().av_packet_free(&packet_);
    if (format_) Ffmpeg().avformat_close_input(&format_);
    stream_ = nullptr;
    draining_ = false;
    receive_failures_ = 0;
    pending_times_.clear();
    frame_time_ = -1;
}

int32_t CFfmpegStreamInput::Open(const std::string& path, const char* container, Kind kind, unsigned which) {
    Close();
    if (!LoadFfmpeg()) return kAviFail;
    QuietFfmpegLog();
    // Naming the container keeps FFmpeg from guessing: a file that is not
    // one is refused instead of being read as some other format.
    const AVInputFormat* demuxer = Ffmpeg().av_find_input_format(container);
    if (!demuxer) return kAviFail;
    if (Ffmpeg().avformat_open_input(&format_, path.c_str(), demuxer, nullptr) < 0) {
        format_ = nullptr;
        return kAviFail;
    }
    if (Ffmpeg().avformat_find_stream_info(format_, nullptr) < 0) {
        Close();
        return kAviFail;
    }
    const AVMediaType type = kind == Kind::kVideo ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    unsigned seen = 0;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        AVStream* s = format_->streams[i];
        // A still picture attached to a file (a cover) is not a video stream.
        const bool usable = s->codecpar->codec_type == type && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
        if (usable && !stream_ && seen++ == which)
            stream_ = s;
        else
            s->discard = AVDISCARD_ALL;
    }
    if (!stream_) {
        Close();
        return kAviNoData;
    }
    packet_ = Ffmpeg().av_packet_alloc();
    if (!packet_) {
        Close();
        return kAviOutOfMemory;
    }
    const AVCodec* decoder = Ffmpeg().avcodec_find_decoder(stream_->codecpar->codec_id);
    if (!decoder) return kAviOk;
    codec_ = Ffmpeg().avcodec_alloc_context3(decoder);
    if (!codec_ || Ffmpeg().avcodec_parameters_to_context(codec_, stream_->codecpar) < 0) {
        Close();
        return kAviOutOfMemory;
    }
    codec_->pkt_timebase = stream_->time_base;
    // One thread keeps one picture in flight; the encoder behind it is the
    // slow part and has the cores.
    codec_->thread_count = 1;
    if (Ffmpeg().avcodec_open2(codec_, decoder, nullptr) < 0) Ffmpeg().avcodec_free_context(&codec_);
    return kAviOk;
}

CFfmpegStreamInput::DecodeResult CFfmpegStreamInput::Decode(AVFrame* frame) {
    if (!codec_) return DecodeResult::kEnd;
    for (;;) {
        const int got = Ffmpeg().avcodec_receive_frame(codec_, frame);
        if (got == 0) {
            frame_time_ = TakePendingTime();
            return DecodeResult::kFrame;
        }
        if (got == AVERROR_EOF) return DecodeResult::kEnd;
        if (got != AVERROR(EAGAIN)) {
            // The failed packet's time goes with it, so the frames after
            // it keep their own places.
            TakePendingTime();
            // A decoder that keeps failing without taking input would spin
            // its caller forever; twice without progress ends the stream.
            if (++receive_failures_ > 1) return DecodeResult::kEnd;
            return DecodeResult::kRejected;
        }
        if (draining_) return DecodeResult::kEnd;  // a decoder that wants input after the flush
        // A read error is treated as the end of the file: a damaged tail
        // ends the stream instead of failing what was already read.
        if (Ffmpeg().av_read_frame(format_, packet_) < 0) {
            draining_ = true;
            Ffmpeg().avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (packet_->stream_index != stream_->index) {
            Ffmpeg().av_packet_unref(packet_);
            continue;
        }
        receive_failures_ = 0;
        const int64_t start = stream_->start_time == AV_NOPTS_VALUE ? 0 : stream_->start_time;
        const int64_t time = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
        const int sent = Ffmpeg().avcodec_send_packet(codec_, packet_);
        Ffmpeg().av_packet_unref(packet_);
        if (sent < 0 && sent != AVERROR(EAGAIN)) return DecodeResult::kRejected;
        // Bounded by the decoder's delay: one time per packet it holds. A
        // decoder that swallows packets without giving frames (headers
        // alone) would let it grow, so it keeps no more than it can use.
        if (pending_times_.size() >= kMaxPendingTimes) pending_times_.pop_front();
        pending_times_.push_back(time == AV_NOPTS_VALUE || time < start ? -1 : time - start);
    }
}

bool CFfmpegStreamInput::SeekTo(int64_t timestamp) {
    if (!format_) return false;
    const int64_t start = stream_->start_time == AV_NOPTS_VALUE ? 0 : stream_->start_time;
    const bool ok = Ffmpeg().av_seek_frame(format_, stream_->index, timestamp < start ? start : timestamp,
                                  AVSEEK_FLAG_BACKWARD) >= 0 ||
                    Ffmpeg().av_seek_frame(format_, stream_->index, start, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0;
    if (codec_) Ffmpeg().avcodec_flush_buffers(codec_);
    draining_ = false;
    receive_failures_ = 0;
    pending_times_.clear();
    frame_time_ = -1;
    return ok;
}
