#pragma once
// What an RvxMovie handle stands for: the bytes, the reader that checked
// them, the picture decoder with its colour conversion, and the sound
// decoder, each keeping its own reading position.

#include <cstdint>
#include <memory>

#include "container/rvx_reader.h"
#include "librvx/picture_source.h"
#include "rvx/rvx.h"
#include "rvxlib/decoder/shown_picture.h"
#include "snxlib/snx_decode.h"
#include "support/byte_source.h"

struct RvxMovie {
public:
    // 0 or a negative error; source stays with the movie.
    int Open(std::unique_ptr<IByteSource> source, const RvxSettings& settings);

    void GetInfo(RvxInfo* info) const;
    int ReadPicture(uint8_t* rgba, ptrdiff_t stride);
    int ReadPlanes(const RvxPlanes& planes);
    int PlaneColours() const;
    int GetPictureInfo(RvxPictureInfo* picture) const;
    int Seek(int64_t frame);
    int64_t ReadSound(int16_t* pcm, int64_t max_frames);
    int SeekSound(int64_t sample_frame);
    int Verify();

private:
    // The next decoded picture buffer, noted as the last one read: 0,
    // RVX_END, or RVX_ERROR_DAMAGED for a damaged picture in a strict movie.
    int NextPicture(const uint8_t** picture);
    int OpenSound();

    RvxSettings settings_ = {};
    std::unique_ptr<IByteSource> source_;
    CRVXReader reader_;
    std::unique_ptr<CPictureSource> pictures_;
    _rvxlib_::CRVXShownPicture shown_;
    std::unique_ptr<CRVXMovieBytes> movie_bytes_;
    _snxlib_::CSNXDecode sound_;
    int sound_status_ = RVX_ERROR_NO_SOUND;  // 0 once the sound decoder is open
    bool sound_failed_ = false;              // a block failed; reads report it until a seek
    bool have_picture_ = false;
    RvxPictureInfo last_ = {};
};
