// A sound file: its header and offset table, then every block decoded,
// twice over with a rewind between.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "snxlib/snx_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz_input::MemoryFile file;
    const std::string& path = file.Write(data, size);
    _snxlib_::CSNXDecode sound;
    if (!sound.Open(path)) return 0;
    const uint32_t channels = sound.GetChannels();
    if (channels == 0) __builtin_trap();
    std::vector<int16_t> buffer(size_t(4096) * channels);
    uint32_t sum = 0;
    for (int pass = 0; pass < 2; ++pass) {
        uint64_t total = 0;
        uint32_t got = 0;
        while (sound.Read(buffer.data(), 4096, &got) && got > 0) {
            total += got;
            sum += uint16_t(buffer[size_t(got) * channels - 1]);
            if (total > sound.GetSampleFrames()) __builtin_trap();  // more than the header announced
        }
        if (!sound.Rewind()) break;
    }
    fuzz_input::Sink(sum);
    return 0;
}
