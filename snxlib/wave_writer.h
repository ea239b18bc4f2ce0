#pragma once
// Writes 16-bit PCM WAVE files: the decoded sound of an SNX stream.

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace _snxlib_ {

constexpr uint32_t kWaveHeaderSize = 44;

// The 16 bytes of a PCM wave format.
struct WavePcmFormat {
    uint16_t format_tag = 1;
    uint16_t channels = 0;
    uint32_t samples_per_second = 0;
    uint32_t average_bytes_per_second = 0;
    uint16_t block_alignment = 0;
    uint16_t bits_per_sample = 0;
};

// The canonical 44-byte header: RIFF, "fmt " with the 16-byte format, and the
// "data" chunk head. The RIFF size is 36 + data_length.
void StoreWaveHeader(const WavePcmFormat& format, uint32_t data_length, uint8_t out[kWaveHeaderSize]);

class CWaveWriter {
public:
    CWaveWriter() = default;
    ~CWaveWriter();
    CWaveWriter(const CWaveWriter&) = delete;
    CWaveWriter& operator=(const CWaveWriter&) = delete;

    // Creates the file with a header whose sizes Close fills in.
    int32_t Open(const std::filesystem::path& path, uint16_t channels, uint32_t sample_rate);
    // Appends interleaved sample frames. 0 on a write error or when the data
    // would outgrow the 32-bit RIFF sizes.
    int32_t Write(const int16_t* samples, uint32_t frames);
    // Completes the header and closes; 0 if anything failed since Open.
    int32_t Close();

private:
    std::FILE* file_ = nullptr;
    WavePcmFormat format_;
    uint64_t data_bytes_ = 0;
    bool failed_ = false;
};

}  // namespace _snxlib_
