#include "snxlib/wave_writer.h"
#include "support/byte_order.h"

#include <vector>

namespace _snxlib_ {

namespace {

constexpr uint32_t kWaveHeaderSize = 44;

}  // namespace

CWaveWriter::~CWaveWriter() {
    if (file_ != nullptr) Close();
}

int32_t CWaveWriter::Open(const std::filesystem::path& path, uint16_t channels, uint32_t sample_rate) {
    if (file_ != nullptr) Close();
    if (channels == 0) return 0;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) return 0;
    channels_ = channels;
    data_bytes_ = 0;
    failed_ = false;
    uint8_t header[kWaveHeaderSize] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                       'f', 'm', 't', ' ', 16, 0, 0, 0};
    const uint32_t frame_bytes = 2u * channels;
    StoreLE16(header + 20, 1);
    StoreLE16(header + 22, channels);
    StoreLE32(header + 24, sample_rate);
    StoreLE32(header + 28, sample_rate * frame_bytes);
    StoreLE16(header + 32, frame_bytes);
    StoreLE16(header + 34, 16);
    header[36] = 'd';
    header[37] = 'a';
    header[38] = 't';
    header[39] = 'a';
    if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) failed_ = true;
    return failed_ ? 0 : 1;
}

int32_t CWaveWriter::Write(const int16_t* samples, uint32_t frames) {
    if (file_ == nullptr || failed_) return 0;
    if (frames == 0) return 1;
    const uint64_t count = static_cast<uint64_t>(frames) * channels_;
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
    uint8_t size[4];
    StoreLE32(size, static_cast<uint32_t>(kWaveHeaderSize - 8 + data_bytes_));
    if (std::fseek(file_, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) failed_ = true;
    StoreLE32(size, static_cast<uint32_t>(data_bytes_));
    if (std::fseek(file_, 40, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return failed_ ? 0 : 1;
}

}  // namespace _snxlib_
