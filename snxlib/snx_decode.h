#pragma once
// Reads an SNX sound file: its header, and the decoded sound as interleaved
// 16-bit sample frames. Every block is read through a bounded bit reader and
// checked, so a truncated or damaged file fails cleanly.
//
//   CSNXDecode sound;
//   if (!sound.Open(path)) ...;     // or Open(movie_path, track_offset, track_length)
//   sound.GetChannels(), GetBitsPerSample(), GetSampleRate(), GetSampleFrames()
//   while (sound.Read(buffer, frames, &got) && got > 0) ...

#include "snxlib/snx_block_decoder.h"
#include "snxlib/snx_format.h"
#include "support/byte_source.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace _snxlib_ {

class CSNXDecode {
public:
    CSNXDecode() = default;
    ~CSNXDecode() { Close(); }
    CSNXDecode(const CSNXDecode&) = delete;
    CSNXDecode& operator=(const CSNXDecode&) = delete;

    // Opens a whole SNX file, checks its header and offset table, and decodes
    // the first block(s). 0 for a missing file, a bad magic, an unsupported
    // mode, an inconsistent header or a damaged first block.
    int32_t Open(const std::filesystem::path& path);
    // The same for an SNX file stored inside another file (a movie's sound
    // track) at offset, length bytes long.
    int32_t Open(const std::filesystem::path& path, uint64_t offset, uint64_t length);
    // The same for an SNX file inside bytes that are no file of their own;
    // source must outlive the decoder's use of it.
    int32_t Open(IByteSource& source, uint64_t offset, uint64_t length);
    void Close();

    uint16_t GetChannels() const { return header_.channels; }
    uint16_t GetBitsPerSample() const { return header_.bits_per_sample; }
    uint32_t GetSampleRate() const { return header_.sample_rate; }
    // Samples per channel (total samples / channels).
    uint32_t GetSampleFrames() const { return frames_; }
    uint16_t GetMode() const { return header_.mode; }
    uint32_t GetBlockSize() const { return block_size_; }
    uint32_t GetBlockCount() const { return header_.block_count; }
    const SNXHeader& Header() const { return header_; }
    // Bytes of the SNX data opened: the whole file, or the embedded length.
    uint64_t GetLength() const { return length_; }

    // Decodes up to `frames` sample frames into out (frames x channels
    // values); *frames_read is less only at the end of the sound. 0 when a
    // block is damaged (*frames_read still counts what was delivered).
    int32_t Read(int16_t* out, uint32_t frames, uint32_t* frames_read);
    // Back to the first sample.
    int32_t Rewind();
    // The next Read starts at sample frame `frame` (0..GetSampleFrames());
    // decodes only the blocks that frame needs. 0 when one is damaged.
    int32_t Seek(uint32_t frame);

private:
    int32_t OpenRange(uint64_t offset, uint64_t length);
    int32_t DecodeBlock(uint32_t index);
    int32_t DecodeNextOutput();

    std::unique_ptr<CFileByteSource> file_;
    IByteSource* source_ = nullptr;
    uint64_t base_ = 0;
    uint64_t length_ = 0;
    SNXHeader header_;
    uint32_t frames_ = 0;
    uint32_t block_size_ = 0;
    uint32_t output_blocks_ = 0;
    std::vector<uint32_t> offsets_;
    CSNXBlockDecoder blocks_;
    std::vector<uint8_t> bytes_;
    uint32_t output_count_ = 0;    // samples valid in the block decoder's output
    uint32_t output_position_ = 0;
    uint32_t next_block_ = 0;      // next coded block to decode
    bool failed_ = false;
};

// Decodes the whole sound from its start into a 16-bit PCM WAVE file.
int32_t DecodeToWave(CSNXDecode& sound, const std::filesystem::path& wave_path);

}  // namespace _snxlib_
