// Writes every picture of an .rvx movie, in display order, to standard
// output as raw B, G, R, A rows (width x height x 4 bytes, top-down): the
// pictures rvxdec --frames saves as PNG, handed to FFmpeg as rawvideo without
// the cost of compressing them. Used by the bench/ scripts that measure
// PSNR over many encodes. At the end "pictures: N" goes to standard error.
//
//   shown_frames MOVIE.rvx > pictures.bgra      (exit 1 on any failure)

#include <cstdio>

#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"
#include "rvxlib/decoder/shown_picture.h"
#include "support/cpu_features.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: shown_frames MOVIE.rvx > pictures.bgra\n");
        return 2;
    }
    CRVXReader reader;
    CRVXMovieDecoder decoder;
    _rvxlib_::CRVXShownPicture shown;
    if (!reader.Open(argv[1]) || !decoder.Open(reader) ||
        !shown.Open(reader.Width(), reader.Height(), reader.FormatFlags(), ProcessorFeatures())) {
        std::fprintf(stderr, "shown_frames: %s cannot be decoded\n", argv[1]);
        return 1;
    }
    const size_t row_bytes = size_t(reader.Width()) * 4;
    uint32_t number = 0, pictures = 0;
    while (const uint8_t* picture = decoder.NextPicture(&number)) {
        ++pictures;
        const uint8_t* rows = shown.Convert(picture);
        for (uint32_t y = 0; y < reader.Height(); ++y) {
            if (std::fwrite(rows + y * shown.Pitch(), 1, row_bytes, stdout) != row_bytes) return 1;
        }
    }
    if (decoder.DamagedFrames() != 0) {
        std::fprintf(stderr, "shown_frames: %u damaged frames\n", decoder.DamagedFrames());
        return 1;
    }
    std::fprintf(stderr, "pictures: %u\n", pictures);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
