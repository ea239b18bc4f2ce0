// A whole movie file: the layout checks, the full verification, the payload
// and sound reads, and playback of every picture.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz_input::MemoryFile file;
    const std::string& path = file.Write(data, size);
    CRVXReader reader;
    if (!reader.Open(path)) {
        if (reader.Problems().empty()) __builtin_trap();
        return 0;
    }
    reader.Verify();
    std::vector<uint8_t> bytes;
    if (reader.HasSound()) reader.ReadSound(bytes);
    // Both inverse transforms: the integer one has its own clamping.
    for (auto inverse : {_rvxlib_::RVXInverseDct::kFloat, _rvxlib_::RVXInverseDct::kInteger}) {
        CRVXMovieDecoder decoder;
        if (!decoder.Open(reader, inverse)) break;
        uint32_t number = 0;
        const size_t pictureBytes = size_t(decoder.PaddedWidth()) * decoder.PaddedHeight() * 4;
        uint32_t sum = 0;
        while (const uint8_t* picture = decoder.NextPicture(&number)) {
            // Touch the whole picture so a short buffer shows.
            sum += picture[0] + picture[pictureBytes - 1];
        }
        fuzz_input::Sink(sum);
        if (size % 2 == 0) break;
    }
    return 0;
}
