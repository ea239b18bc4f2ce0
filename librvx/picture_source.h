#pragma once
// Decoded pictures in display order, from the movie decoder on the caller's
// thread or, with more than one thread, from a worker that decodes ahead.

#include <cstdint>
#include <memory>

#include "container/rvx_movie_decoder.h"

struct DecodedPicture {
    const uint8_t* picture = nullptr;  // padded picture buffer; null at the end
    uint32_t number = 0;
    bool damaged = false;
};

class CPictureSource {
public:
    virtual ~CPictureSource() = default;
    // The next picture; its buffer stays valid until the next call.
    virtual DecodedPicture Next() = 0;
    virtual void Seek(uint32_t frame) = 0;
    virtual size_t Pitch() const = 0;
};

// threads: 1 decodes on the caller's thread, more decodes ahead on a worker.
// Null when the movie's pictures cannot be decoded.
std::unique_ptr<CPictureSource> MakePictureSource(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse,
                                                  int threads);
