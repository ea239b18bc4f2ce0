#include "snxlib/wave_writer.h"
#include "support/byte_order.h"
#include "support/stdio_file.h"

#include <cstring>
#include <vector>

namespace _snxlib_ {

void StoreWaveHeader(const WavePcmFormat& format, uint32_t data_length, uint8_t out[kWaveHeaderSize]) {
    std::memcpy(out, "RIFF", 4);
    StoreLE32(out + 4, static_cast<uint32_t>(kWaveHeaderSize - 8 + uint64_t{data_length}));
    std::memcpy(out + 8, "WAVEfmt ", 8);
    StoreLE32(out + 16, 16);
    StoreLE16(out + 20, format.format_tag);
    StoreLE16(out + 22, format.channels);
    StoreLE32(out + 24, format.samples_per_second);
    StoreLE32(out + 28, format.average_bytes_per_second);
    StoreLE16(out + 32, format.block_alignment);
    StoreLE16(out + 34, format.bits_per_sample);
    std::memcpy(out + 36, "data", 4);
    StoreLE32(out + 40, data_length);
}

CWaveWriter::~CWaveWriter() {
    if (file_ != nullptr) Close();
}

int32_t CWaveWriter::Open(const std::filesystem::path& path, uint16_t channels, uint32_t sample_rate) {
    if (file_ != nullptr) Close();
    if (channels == 0) return 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return 0;
    const uint16_t frame_bytes = static_cast<uint16_t>(2u * channels);
    format_ = WavePcmFormat{1, channels, sample_rate, sample_rate * frame_bytes, frame_bytes, 16};
    data_bytes_ = 0;
    failed_ = false;
    uint8_t header[kWaveHeaderSize];
    StoreWaveHeader(format_, 0, header);
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) failed_ = true;
    return failed_ ? 0 : 1;
}

int32_t CWaveWriter::Write(const int16_t* samples, uint32_t frames) {
    if (file_ == nullptr || failed_) return 0;
    if (frames == 0) return 1;
    const uint64_t count = static_cast<uint64_t>(frames) * format_.channels;
    if (kWaveHeaderSize - 8 + data_bytes_ + 2 * count > 0xFFFFFFFFull) {
        failed_ = true;
        return 0;
    }
    std::vector<uint8_t> bytes(2 * count);
    for (uint64_t i = 0; i < count; ++i) StoreLE16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        failed_ = true;
        return 0;
    }
    data_bytes_ += bytes.size();
    return 1;
}

int32_t CWaveWriter::Close() {
    if (file_ == nullptr) return 0;
    uint8_t header[kWaveHeaderSize];
    StoreWaveHeader(format_, static_cast<uint32_t>(data_bytes_), header);
    if (!SeekFile(file_, 0, SEEK_SET) || std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
        failed_ = true;
    }
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return failed_ ? 0 : 1;
}

}  // namespace _snxlib_
