// A WAVE file read sample by sample through a memory stream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_input.h"
#include "snxlib/wave_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    _snxlib_::CWaveReader wave;
    if (wave.Open(file)) {
        if (wave.Channels() == 0) __builtin_trap();
        std::vector<int16_t> samples(size_t(wave.Channels()) * 1024);
        uint32_t left = wave.TotalSamples(), sum = 0;
        while (left > 0) {
            const uint32_t count = left < samples.size() ? left : uint32_t(samples.size());
            if (!wave.ReadSamples(samples.data(), count)) break;
            sum += uint16_t(samples[count - 1]);
            left -= count;
        }
        fuzz_input::Sink(sum);
    }
    std::fclose(file);
    return 0;
}
