#pragma once
// Codes a WAVE file into an SNX sound file in one pass, block by block.
//
//   CSNXEncode encoder;
//   encoder.SetMode(0x103);        // the sound method of the settings
//   encoder.SetBlockSize(1024);
//   encoder.EncodeFile(wave_path, work_dir / "tmpsnd.snx");

#include <cstdint>
#include <filesystem>
#include <vector>

#include "snxlib/snx_format.h"

namespace _snxlib_ {

class CSNXEncode {
public:
    // Accepts 0, 1, 2, 64, 65 and 256..261 (low 16 bits of code); any other
    // value returns 0 and keeps the mode. The block size is re-applied, so it
    // becomes a power of two when a transform mode is chosen.
    int32_t SetMode(uint32_t code);
    // Transform modes round down to a power of two, the others to a multiple
    // of 4; a result outside 64..2^20 returns 0 and keeps the size.
    int32_t SetBlockSize(uint32_t samples_per_channel);
    // Opaque bytes stored with the sound; copied.
    void SetExtraData(const void* data, uint32_t length);

    uint16_t GetMode() const { return mode_; }
    uint32_t GetBlockSize() const { return block_size_; }

    // 1 when the sound file was written completely. 0 when either file cannot
    // be opened, the WAVE file cannot be read, the mode has no block coder
    // (2, 65, 261), or writing fails; a sound file left behind then is not
    // valid.
    int32_t EncodeFile(const std::filesystem::path& wave_path, const std::filesystem::path& sound_path);

private:
    int32_t Encode(std::FILE* wave, std::FILE* sound);

    uint16_t mode_ = 1;
    uint32_t block_size_ = kDefaultSNXBlockSize;
    std::vector<uint8_t> extra_;
};

}  // namespace _snxlib_
