#pragma once
// The encoder's colour conversion run backwards, for players: a decoded
// picture buffer (padded to whole macroblocks; V, U, Y, A or B, G, R, A)
// becomes the top-down B, G, R, A rows a viewer shows, opaque unless the
// movie codes alpha. Built from the stored format word alone, so a player
// needs neither the writer nor the rest of the codec.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace _rvxlib_ {

class IRVXColorSpace;

class CRVXShownPicture {
public:
    CRVXShownPicture();
    ~CRVXShownPicture();
    CRVXShownPicture(const CRVXShownPicture&) = delete;
    CRVXShownPicture& operator=(const CRVXShownPicture&) = delete;

    // For a movie's picture size and stored format word (bits 0..19); false
    // when the format cannot be shown.
    bool Open(uint32_t width, uint32_t height, uint32_t stored_format, uint32_t features);
    // The shown rows of a decoded picture, Pitch() bytes apart; valid until
    // the next call. Null before a successful Open.
    uint8_t* Convert(const uint8_t* picture);
    // The same rows written into out (Pitch() x height bytes), for a caller
    // that keeps each shown picture.
    bool ConvertInto(const uint8_t* picture, uint8_t* out);
    std::size_t Pitch() const { return pitch_; }

private:
    std::unique_ptr<IRVXColorSpace> colour_;
    std::vector<uint8_t> bgra_;
    std::size_t pitch_ = 0;
    std::size_t height_ = 0;
};

}  // namespace _rvxlib_
