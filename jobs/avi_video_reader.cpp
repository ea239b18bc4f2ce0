#include "jobs/avi_video_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "jobs/avi_index.h"
#include "jobs/ffmpeg_api.h"
#include "support/region_check.h"

namespace {

// Pictures larger than this are refused rather than allocated: a damaged
// header must not ask for gigabytes.
constexpr uint64_t kMaxPictureBytes = 1ull << 30;

// A picture found by seeking is looked for past this many rejected packets
// at most.
constexpr int kMaxRejectedNear = 16;

uint32_t ClampToU32(int64_t v) {
    if (v <= 0) return 0;
    return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(v);
}

// Bits per pixel as the stream header states them; streams that state none
// get their decoder's pixel size, or 24.
uint16_t SourceBitCount(const AVCodecParameters* par) {
    if (par->bits_per_coded_sample > 0 && par->bits_per_coded_sample <= 64)
        return static_cast<uint16_t>(par->bits_per_coded_sample);
    if (const AVPixFmtDescriptor* d = Ffmpeg().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format))) {
        const int bits = Ffmpeg().av_get_bits_per_pixel(d);
        if (bits > 0) return static_cast<uint16_t>(bits);
    }
    return 24;
}

}  // namespace

CAviVideoReader::~CAviVideoReader() { Close(); }

void CAviVideoReader::Close() {
    input_.Close();
    if (scaler_) Ffmpeg().sws_freeContext(scaler_);
    scaler_ = nullptr;
    if (frame_) Ffmpeg().av_frame_free(&frame_);
    if (last_) Ffmpeg().av_frame_free(&last_);
    if (pending_) Ffmpeg().av_frame_free(&pending_);
    if (scaled_) Ffmpeg().av_freep(&scaled_);
    scaled_pitch_ = 0;
    output_.clear();
    output_.shrink_to_fit();
    source_ = BitmapInfoHeader{};
    decoded_ = BitmapInfoHeader{};
    width_ = height_ = rate_ = scale_ = length_ = fill_end_ = next_ = pending_at_ = 0;
    pending_ready_ = decoder_ended_ = have_picture_ = converted_ = false;
}

void CAviVideoReader::ForgetPosition() {
    next_ = pending_at_ = 0;
    pending_ready_ = decoder_ended_ = have_picture_ = converted_ = false;
    if (last_) Ffmpeg().av_frame_unref(last_);
    if (pending_) Ffmpeg().av_frame_unref(pending_);
}

int32_t CAviVideoReader::Open(const std::string& path) {
    Close();
    const int32_t opened = input_.Open(path, "avi", CFfmpegStreamInput::Kind::kVideo);
    if (opened != kAviOk) return opened;
    path_ = path;
    const AVStream* s = input_.Stream();
    const AVCodecParameters* par = s->codecpar;
    // The demuxer's time base is the stream's scale over its rate.
    scale_ = ClampToU32(s->time_base.num);
    rate_ = ClampToU32(s->time_base.den);

    int64_t frames = s->nb_frames;
    if (frames <= 0 && s->duration > 0) frames = s->duration;
    length_ = ClampToU32(frames);
    // Trailing empty entries have no packets; only the index tells they are
    // there. Without one (a cut file) the stream ends with its last picture.
    const int64_t entries = AviIndexEntryCount(path, static_cast<unsigned>(s->index));
    fill_end_ = entries > 0 ? std::min(length_, ClampToU32(entries)) : 0;

    source_.width = par->width;
    source_.height = par->height;
    source_.bit_count = SourceBitCount(par);
    source_.compression = par->codec_tag;
    if (par->codec_tag == 0)
        source_.size_image = static_cast<uint32_t>(((static_cast<uint64_t>(par->width) * source_.bit_count + 31) / 32) *
                                                   4 * static_cast<uint64_t>(par->height));

    const uint64_t bytes = static_cast<uint64_t>(par->width > 0 ? par->width : 0) * 4 *
                           static_cast<uint64_t>(par->height > 0 ? par->height : 0);
    if (bytes != 0 && bytes <= kMaxPictureBytes) {
        width_ = static_cast<uint32_t>(par->width);
        height_ = static_cast<uint32_t>(par->height);
        decoded_.width = par->width;
        decoded_.height = par->height;
        decoded_.bit_count = 32;
        decoded_.size_image = static_cast<uint32_t>(bytes);
    }
    return kAviOk;
}

bool CAviVideoReader::Convert(const AVFrame* frame) {
    if (frame->width <= 0 || frame->height <= 0) return false;
    // A picture whose size differs from the stream header's is scaled to it,
    // so every picture fills the same buffer.
    scaler_ = Ffmpeg().sws_getCachedContext(scaler_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   int(width_), int(height_), AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr,
                                   nullptr);
    if (!scaler_) return false;
    if (!scaled_) {
        uint8_t* planes[4] = {};
        int pitches[4] = {};
        if (Ffmpeg().av_image_alloc(planes, pitches, int(width_), int(height_), AV_PIX_FMT_BGRA, 64) < 0) return false;
        scaled_ = planes[0];
        scaled_pitch_ = pitches[0];
    }
    uint8_t* dst[4] = {scaled_, nullptr, nullptr, nullptr};
    const int dst_pitch[4] = {scaled_pitch_, 0, 0, 0};
    CheckRegionForLibrary(scaled_, std::size_t(scaled_pitch_) * height_);
    if (Ffmpeg().sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, dst, dst_pitch) != int(height_)) return false;
    // Bottom-up rows, as the reader hands them out.
    const size_t row = static_cast<size_t>(width_) * 4;
    for (uint32_t y = 0; y < height_; ++y)
        std::memcpy(&output_[(height_ - 1 - y) * row], scaled_ + static_cast<size_t>(y) * scaled_pitch_, row);
    return true;
}

bool CAviVideoReader::PrepareBuffers() {
    // Whatever a call that ran out of memory left unmade is made by the next.
    if (output_.empty()) output_.assign(static_cast<size_t>(width_) * 4 * height_, 0);
    if (!frame_) frame_ = Ffmpeg().av_frame_alloc();
    if (!last_) last_ = Ffmpeg().av_frame_alloc();
    if (!pending_) pending_ = Ffmpeg().av_frame_alloc();
    return frame_ && last_ && pending_;
}

uint32_t CAviVideoReader::PlaceOf(int64_t entry) const {
    // Without a length the times have nothing to be checked against, and a
    // damaged one must not make the reader repeat a picture without end; a
    // time past the stated length says the header is wrong, not the time,
    // so the picture comes next rather than never.
    if (length_ == 0 || entry < int64_t(next_) || entry >= int64_t(length_)) return next_;
    return static_cast<uint32_t>(entry);
}

int32_t CAviVideoReader::DecodePending() {
    while (!pending_ready_ && !decoder_ended_) {
        const CFfmpegStreamInput::DecodeResult got = input_.Decode(frame_);
        if (got == CFfmpegStreamInput::DecodeResult::kEnd) {
            decoder_ended_ = true;
        } else if (got == CFfmpegStreamInput::DecodeResult::kRejected) {
            if (have_picture_) return kAviNoData;
        } else {
            Ffmpeg().av_frame_unref(pending_);
            Ffmpeg().av_frame_move_ref(pending_, frame_);
            pending_at_ = PlaceOf(input_.FrameTime());
            pending_ready_ = true;
        }
    }
    return kAviOk;
}

int32_t CAviVideoReader::Advance(bool deliver) {
    if (length_ != 0 && next_ >= length_) return kAviEndOfStream;
    if (!PrepareBuffers()) return kAviOutOfMemory;
    const bool rejected = DecodePending() != kAviOk;
    if (!rejected && pending_ready_ && pending_at_ <= next_) {
        std::swap(last_, pending_);
        Ffmpeg().av_frame_unref(pending_);
        pending_ready_ = false;
        have_picture_ = true;
        converted_ = false;
    } else if (!have_picture_) {
        // Empty entries before the first picture are black; a stream whose
        // pictures never come has no frames at all.
        if (!pending_ready_) return kAviEndOfStream;
        if (deliver) {
            for (size_t i = 0; i < output_.size(); i += 4) {
                output_[i] = output_[i + 1] = output_[i + 2] = 0;
                output_[i + 3] = 0xFF;
            }
        }
        ++next_;
        return kAviOk;
    } else if (!rejected && !pending_ready_ && next_ >= fill_end_) {
        return kAviEndOfStream;
    }
    if (deliver && !converted_) {
        if (!Convert(last_)) return kAviFail;
        converted_ = true;
    }
    ++next_;
    return kAviOk;
}

int32_t CAviVideoReader::Read(const uint8_t** pixels) {
    if (!pixels) return kAviInvalidPointer;
    if (!input_.IsOpen()) return kAviNoData;
    if (!CanDecode()) return kAviNoInterface;
    const int32_t status = Advance(true);
    if (status == kAviOk) *pixels = output_.data();
    return status;
}

int32_t CAviVideoReader::Seek(uint32_t frame) {
    if (!input_.IsOpen()) return kAviNoData;
    const AVStream* s = input_.Stream();
    if (!input_.SeekTo(s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time)) {
        // A file that cannot seek still rewinds by opening it again.
        const std::string path = path_;
        if (Open(path) != kAviOk) return kAviFail;
    }
    ForgetPosition();
    if (!CanDecode()) return kAviOk;
    while (next_ < frame) {
        const int32_t status = Advance(false);
        if (status == kAviEndOfStream) break;
        if (status != kAviOk) return status;
    }
    return kAviOk;
}

int32_t CAviVideoReader::ReadNear(uint32_t frame, const uint8_t** pixels) {
    if (!pixels) return kAviInvalidPointer;
    if (!input_.IsOpen()) return kAviNoData;
    if (!CanDecode()) return kAviNoInterface;
    const AVStream* s = input_.Stream();
    const int64_t start = s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time;
    const bool sought = input_.SeekTo(start + frame);
    ForgetPosition();
    if (!sought) return kAviFail;
    if (!PrepareBuffers()) return kAviOutOfMemory;
    for (int rejected = 0; rejected <= kMaxRejectedNear;) {
        const CFfmpegStreamInput::DecodeResult got = input_.Decode(frame_);
        if (got == CFfmpegStreamInput::DecodeResult::kEnd) return kAviEndOfStream;
        if (got == CFfmpegStreamInput::DecodeResult::kRejected) {
            ++rejected;
            continue;
        }
        if (!Convert(frame_)) return kAviFail;
        *pixels = output_.data();
        return kAviOk;
    }
    return kAviFail;
}
