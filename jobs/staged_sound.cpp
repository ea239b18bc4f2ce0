#include "jobs/staged_sound.h"

#include "support/stdio_file.h"

namespace {

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

bool CStagedSoundFile::WriteHeaderWithSize(uint32_t data_length) {
    uint8_t h[_snxlib_::kWaveHeaderSize];
    _snxlib_::StoreWaveHeader(format_, data_length, h);
    return std::fwrite(h, 1, sizeof h, file_) == sizeof h;
}

bool CStagedSoundFile::WriteHeader(const PcmFormat& format) {
    if (!file_) return false;
    format_ = format;
    if (!WriteHeaderWithSize(0)) failed_ = true;
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
    bool ok = SeekFile(file_, 0, SEEK_SET) && 
              WriteHeaderWithSize(static_cast<uint32_t>(data_length_));
    ok = std::fflush(file_) == 0 && ok;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

void CStagedSoundFile::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
