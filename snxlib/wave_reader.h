#pragma once
// Reads the samples of a RIFF WAVE file as 16-bit values: integer PCM of 16,
// 24 or 32 bits, 32-bit IEEE float, and the extensible format with either.

#include <cstdint>
#include <cstdio>
#include <vector>

namespace _snxlib_ {

class CWaveReader {
public:
    // Finds "fmt " and "data" anywhere in the file and leaves the file at the
    // first sample. 0 for a file that is not RIFF, lacks either chunk, or has
    // a sample format we cannot read. The file stays owned by the caller.
    int32_t Open(std::FILE* file);

    uint16_t Channels() const { return channels_; }
    uint32_t SampleRate() const { return sample_rate_; }
    uint16_t BitsPerSample() const { return bits_; }
    bool IsFloat() const { return is_float_; }
    // Samples of all channels together, whole sample frames only: a data
    // chunk cut short inside a frame loses the partial frame.
    uint32_t TotalSamples() const { return total_samples_; }

    // Reads the next count samples (interleaved) as 16-bit values; 0 on a
    // read error.
    int32_t ReadSamples(int16_t* out, uint32_t count);

private:
    std::FILE* file_ = nullptr;
    uint16_t channels_ = 0;
    uint32_t sample_rate_ = 0;
    uint16_t bits_ = 0;
    bool is_float_ = false;
    uint32_t total_samples_ = 0;
    std::vector<uint8_t> bytes_;
};

}  // namespace _snxlib_
