#pragma once
// Writes 16-bit PCM WAVE files: the decoded sound of an SNX stream.

#include <cstdint>
#include <cstdio>
#include <filesystem>

namespace _snxlib_ {

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
    uint16_t channels_ = 0;
    uint64_t data_bytes_ = 0;
    bool failed_ = false;
};

}  // namespace _snxlib_
