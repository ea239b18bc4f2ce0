#include "jobs/staged_sound.h"
#include "support/byte_order.h"

#include <cstring>

namespace {

constexpr uint32_t kHeaderSize = 44;
// RIFF sizes are 32-bit: the RIFF size field holds 36 + data length.
constexpr uint64_t kMaxDataLength = 0xFFFFFFFFull - 36;

}  // namespace

CStagedSoundFile::~CStagedSoundFile() { Close(); }

bool CStagedSoundFile::Create(const std::string& path) {
    Close();
    path_ = path;
    data_length_ = 0;
    failed_ = false;
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

bool CStagedSoundFile::WriteHeaderWithSizes(uint32_t riff_size, uint32_t data_length) {
    uint8_t h[kHeaderSize];
    std::memcpy(h, "RIFF", 4);
    StoreLE32(h + 4, riff_size);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    StoreLE32(h + 16, 16);
    StoreLE16(h + 20, format_.format_tag);
    StoreLE16(h + 22, format_.channels);
    StoreLE32(h + 24, format_.samples_per_second);
    StoreLE32(h + 28, format_.average_bytes_per_second);
    StoreLE16(h + 32, format_.block_alignment);
    StoreLE16(h + 34, format_.bits_per_sample);
    std::memcpy(h + 36, "data", 4);
    StoreLE32(h + 40, data_length);
    return std::fwrite(h, 1, kHeaderSize, file_) == kHeaderSize;
}

bool CStagedSoundFile::WriteHeader(const PcmFormat& format) {
    if (!file_) return false;
    format_ = format;
    if (!WriteHeaderWithSizes(0, 0)) failed_ = true;
    return !failed_;
}

bool CStagedSoundFile::Append(const void* data, size_t length) {
    if (!file_ || failed_) return false;
    if (length > kMaxDataLength - data_length_) {
        failed_ = true;
        return false;
    }
    if (length != 0 && std::fwrite(data, 1, length, file_) != length) {
        failed_ = true;
        return false;
    }
    data_length_ += length;
    return true;
}

bool CStagedSoundFile::Complete() {
    if (!file_ || failed_) {
        Close();
        return false;
    }
    bool ok = std::fseek(file_, 0, SEEK_SET) == 0 && 
              WriteHeaderWithSizes(static_cast<uint32_t>(36 + data_length_), static_cast<uint32_t>(data_length_));
    ok = std::fflush(file_) == 0 && ok;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

void CStagedSoundFile::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
