#include "librvx/movie.h"

#include <algorithm>
#include <climits>

#include "librvx/errors.h"
#include "librvx/picture_copy.h"
#include "support/cpu_features.h"

namespace {

constexpr int64_t kMicroseconds = 1000000;

// frame * den / num seconds in microseconds, without overflow for any
// 32-bit rate and frame number.
int64_t FrameTime(int64_t frame, uint32_t num, uint32_t den) {
    if (num == 0 || den == 0) return 0;
    return int64_t((unsigned __int128)frame * den * kMicroseconds / num);
}

}  // namespace

int RvxMovie::Open(std::unique_ptr<IByteSource> source, const RvxSettings& settings) {
    settings_ = settings;
    source_ = std::move(source);
    if (!reader_.Open(*source_, settings.strict ? RVXReading::kStrict : RVXReading::kTolerant)) {
        return ErrorOfProblems(reader_.Problems());
    }
    const auto inverse = settings.integer_idct ? _rvxlib_::RVXInverseDct::kInteger : _rvxlib_::RVXInverseDct::kFloat;
    pictures_ = MakePictureSource(reader_, inverse, settings.threads);
    if (!pictures_) return RVX_ERROR_UNSUPPORTED;
    if (!shown_.Open(reader_.Width(), reader_.Height(), reader_.FormatFlags(), ProcessorFeatures())) {
        return RVX_ERROR_UNSUPPORTED;
    }
    return OpenSound();
}

int RvxMovie::OpenSound() {
    if (!reader_.HasSound()) return 0;
    // A sound track that cannot be decoded leaves the pictures playable; the
    // sound calls report it.
    // The track is read as long as the header says, so that the blocks of a
    // cut movie that are whole can still be played.
    movie_bytes_ = std::make_unique<CRVXMovieBytes>(reader_);
    sound_status_ =
        sound_.Open(*movie_bytes_, reader_.SoundOffset(), reader_.SoundLength()) == 1 ? 0 : RVX_ERROR_DAMAGED;
    return 0;
}

void RvxMovie::GetInfo(RvxInfo* info) const {
    *info = RvxInfo{};
    info->width = int(reader_.Width());
    info->height = int(reader_.Height());
    info->has_alpha = (reader_.FormatFlags() & rvx_layout::kFormatAlpha) != 0;
    // Rates above INT_MAX cannot be told in an int; such movies show no rate.
    const bool rate_fits = reader_.RateNumerator() <= INT_MAX && reader_.RateDenominator() <= INT_MAX;
    info->rate_num = rate_fits ? int(reader_.RateNumerator()) : 0;
    info->rate_den = rate_fits ? int(reader_.RateDenominator()) : 0;
    info->frames = int64_t(reader_.Frames().size());
    if (reader_.HasSound()) {
        const _snxlib_::SNXHeader& sound = reader_.Sound();
        info->sound_channels = sound.channels;
        info->sound_rate = int(std::min<uint32_t>(sound.sample_rate, INT_MAX));
        info->sound_frames = _snxlib_::SNXSampleFrames(sound);
    }
}

int RvxMovie::NextPicture(const uint8_t** picture) {
    const DecodedPicture next = pictures_->Next();
    if (next.picture == nullptr) return RVX_END;
    *picture = next.picture;
    have_picture_ = true;
    last_.frame = next.number;
    last_.time_us = FrameTime(next.number, reader_.RateNumerator(), reader_.RateDenominator());
    last_.duration_us = FrameTime(next.number + 1, reader_.RateNumerator(), reader_.RateDenominator()) - last_.time_us;
    last_.damaged = next.damaged;
    return next.damaged && settings_.strict ? RVX_ERROR_DAMAGED : 0;
}

int RvxMovie::ReadPicture(uint8_t* rgba, ptrdiff_t stride) {
    const uint8_t* picture = nullptr;
    const int status = NextPicture(&picture);
    if (status == RVX_END) return status;
    if (stride == ptrdiff_t(shown_.Pitch())) {
        // Rows the size the converter writes: converted straight into the
        // caller's picture, which saves a pass over it.
        shown_.ConvertInto(picture, rgba);
        SwapRedBlueInPlace(rgba, shown_.Pitch(), reader_.Width(), reader_.Height());
    } else {
        CopyBgraToRgba(shown_.Convert(picture), shown_.Pitch(), reader_.Width(), reader_.Height(), rgba, stride);
    }
    return status;
}

int RvxMovie::ReadPlanes(const RvxPlanes& planes) {
    const uint8_t* picture = nullptr;
    const int status = NextPicture(&picture);
    if (status == RVX_END) return status;
    CopyPlanes(picture, pictures_->Pitch(), reader_.Width(), reader_.Height(),
               (reader_.FormatFlags() & rvx_layout::kFormatAlpha) != 0, planes);
    return status;
}

int RvxMovie::PlaneColours() const {
    return (reader_.FormatFlags() & rvx_layout::kFormatColourMask) != 0 ? RVX_PLANES_RGB : RVX_PLANES_YCBCR;
}

int RvxMovie::GetPictureInfo(RvxPictureInfo* picture) const {
    if (!have_picture_) return RVX_ERROR_ARGUMENT;
    *picture = last_;
    return 0;
}

int RvxMovie::Seek(int64_t frame) {
    if (frame < 0 || frame > int64_t(reader_.FrameCount())) return RVX_ERROR_ARGUMENT;
    have_picture_ = false;
    pictures_->Seek(uint32_t(frame));
    return 0;
}

int64_t RvxMovie::ReadSound(int16_t* pcm, int64_t max_frames) {
    if (sound_status_ < 0) return sound_status_;
    // Played tolerantly, the sound ends at its first damaged block.
    if (sound_failed_) return settings_.strict ? RVX_ERROR_DAMAGED : 0;
    uint32_t got = 0;
    const uint32_t want = uint32_t(std::min<int64_t>(max_frames, INT32_MAX));
    if (sound_.Read(pcm, want, &got) != 1) {
        sound_failed_ = true;
        // What decoded before the damaged block is still handed out.
        if (got == 0) return settings_.strict ? RVX_ERROR_DAMAGED : 0;
    }
    return got;
}

int RvxMovie::SeekSound(int64_t sample_frame) {
    if (sound_status_ < 0) return sound_status_;
    if (sample_frame < 0 || sample_frame > int64_t(sound_.GetSampleFrames())) return RVX_ERROR_ARGUMENT;
    sound_failed_ = sound_.Seek(uint32_t(sample_frame)) != 1;
    return sound_failed_ ? RVX_ERROR_DAMAGED : 0;
}

int RvxMovie::Verify() { return reader_.Verify() ? 0 : ErrorOfProblems(reader_.Problems()); }
