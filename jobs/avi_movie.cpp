#include "jobs/avi_movie.h"

#include <cstring>
#include <limits>

namespace {

// frame x scale x 1000 / rate and its inverse, truncated, without the
// intermediate products overflowing 64 bits.
int64_t MulDiv(int64_t value, uint64_t numerator, uint64_t denominator) {
    if (denominator == 0) return 0;
    const __int128 q = static_cast<__int128>(value) * numerator / static_cast<__int128>(denominator);
    if (q > std::numeric_limits<int64_t>::max()) return std::numeric_limits<int64_t>::max();
    if (q < std::numeric_limits<int64_t>::min()) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(q);
}

}  // namespace

CAVIMovie::~CAVIMovie() { Close(); }

int32_t CAVIMovie::Close() {
    video_.Close();
    sound_.Close();
    info_ = AviFileInfo{};
    return kAviOk;
}

int32_t CAVIMovie::Open(const std::string& path) {
    Close();
    const int32_t video = video_.Open(path);
    if (video != kAviOk && video != kAviNoData) return video;
    const int32_t sound = sound_.Open(path, sound_track_);
    if (sound != kAviOk && sound != kAviNoData) {
        Close();
        return sound;
    }
    info_.streams = (video_.HasStream() ? 1u : 0u) + (sound_.HasStream() ? 1u : 0u);
    if (video_.HasStream()) {
        info_.width = static_cast<uint32_t>(video_.SourceHeader().width);
        info_.height = static_cast<uint32_t>(video_.SourceHeader().height);
        info_.rate = video_.Rate();
        info_.scale = video_.Scale();
        info_.length = video_.Length();
    }
    return kAviOk;
}

int32_t CAVIMovie::Rewind() { return SeekToFrame(0); }

int32_t CAVIMovie::SeekToFrame(uint32_t frame) {
    if (!video_.HasStream() && !sound_.HasStream()) return kAviNoData;
    if (video_.HasStream() && video_.Seek(frame) != kAviOk) return kAviFail;
    if (sound_.HasStream() && sound_.SeekToMs(FrameToMs(frame)) != kAviOk) return kAviFail;
    return kAviOk;
}

int32_t CAVIMovie::ReadVideoFrame(const uint8_t** pixels) {
    if (!pixels) return kAviInvalidPointer;
    if (!video_.HasStream()) return kAviNoInterface;
    return video_.Read(pixels);
}

int32_t CAVIMovie::SeekVideo(uint32_t frame) {
    if (!video_.HasStream()) return kAviNoData;
    return video_.Seek(frame);
}

int32_t CAVIMovie::ReadVideoNear(uint32_t frame, const uint8_t** pixels) {
    if (!pixels) return kAviInvalidPointer;
    if (!video_.HasStream()) return kAviNoInterface;
    return video_.ReadNear(frame, pixels);
}

int32_t CAVIMovie::ReadSound(const uint8_t** data, uint32_t* length) {
    if (!data || !length) return kAviInvalidPointer;
    if (!sound_.HasStream()) return kAviNoInterface;
    return sound_.Read(data, length);
}

int32_t CAVIMovie::GetVideoFormat(BitmapInfoHeader* header) {
    if (!header) return kAviInvalidPointer;
    if (!video_.HasStream()) return kAviNoData;
    if (!video_.CanDecode()) return kAviNoInterface;
    *header = video_.DecodedHeader();
    return kAviOk;
}

int32_t CAVIMovie::GetSoundFormat(WaveFormatEx* format) {
    if (!format) return kAviInvalidPointer;
    if (!sound_.HasStream()) return kAviNoData;
    if (!sound_.CanDecode()) return kAviNoInterface;
    *format = sound_.DecodedFormat();
    return kAviOk;
}

int32_t CAVIMovie::GetSourceFormats(BitmapInfoHeader* video, void* sound, uint32_t* sound_length) {
    if (sound && !sound_length) return kAviInvalidArgument;
    if (video) {
        if (!video_.HasStream()) return kAviNoInterface;
        *video = video_.SourceHeader();
    }
    if (sound_length) {
        const std::vector<uint8_t>& format = sound_.SourceFormat();
        const uint32_t size = static_cast<uint32_t>(format.size());
        if (sound && *sound_length < size) {
            *sound_length = size;
            return kAviOutOfMemory;
        }
        if (sound && size) std::memcpy(sound, format.data(), size);
        *sound_length = size;
    }
    return kAviOk;
}

int64_t CAVIMovie::FrameToMs(int64_t frame) {
    return MulDiv(frame, uint64_t(info_.scale) * 1000, info_.rate);
}

int64_t CAVIMovie::MsToFrame(int64_t ms) { return MulDiv(ms, info_.rate, uint64_t(info_.scale) * 1000); }
