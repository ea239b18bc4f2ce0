#pragma once
// What rvxdec shows and plays for a movie, decoded with the same classes it
// uses: the pictures as B, G, R, A rows in display order and the sound as
// interleaved 16-bit samples (little-endian bytes).

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"
#include "rvxlib/decoder/shown_picture.h"
#include "snxlib/snx_decode.h"
#include "support/cpu_features.h"

struct ReferenceMovie {
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint8_t> sound;
    uint32_t width = 0, height = 0;
    uint32_t rate_num = 0, rate_den = 0;
    std::vector<uint32_t> group_first_frames;
};

inline bool DecodeReference(const std::string& path, ReferenceMovie* movie) {
    CRVXReader reader;
    if (!reader.Open(path)) return false;
    movie->width = reader.Width();
    movie->height = reader.Height();
    movie->rate_num = reader.RateNumerator();
    movie->rate_den = reader.RateDenominator();
    for (const auto& group : reader.Groups()) movie->group_first_frames.push_back(group.first_frame);
    CRVXMovieDecoder decoder;
    _rvxlib_::CRVXShownPicture shown;
    if (!decoder.Open(reader) ||
        !shown.Open(reader.Width(), reader.Height(), reader.FormatFlags(), ProcessorFeatures())) {
        return false;
    }
    uint32_t number = 0;
    while (const uint8_t* picture = decoder.NextPicture(&number)) {
        const uint8_t* rows = shown.Convert(picture);
        std::vector<uint8_t> packed(std::size_t(reader.Width()) * reader.Height() * 4);
        for (uint32_t y = 0; y < reader.Height(); ++y) {
            std::memcpy(&packed[std::size_t(y) * reader.Width() * 4], rows + y * shown.Pitch(), reader.Width() * 4);
        }
        movie->pictures.push_back(std::move(packed));
    }
    if (!reader.HasSound()) return true;
    _snxlib_::CSNXDecode sound;
    if (sound.Open(path, reader.SoundOffset(), reader.SoundLength()) != 1) return false;
    std::vector<int16_t> samples(std::size_t(sound.GetSampleFrames()) * sound.GetChannels());
    uint32_t got = 0;
    if (sound.Read(samples.data(), sound.GetSampleFrames(), &got) != 1 || got != sound.GetSampleFrames()) return false;
    movie->sound.resize(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        movie->sound[2 * i] = uint8_t(uint16_t(samples[i]));
        movie->sound[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    return true;
}

// Nanoseconds at which display frame n starts.
inline uint64_t FrameTimeOf(const ReferenceMovie& movie, uint64_t n) {
    return n * movie.rate_den * 1000000000ull / movie.rate_num;
}
