#pragma once
// Builders for real WAVE files, test signals and quality measures shared by
// the snxlib tests and benchmark.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace snxtest {

// A private directory under the system temporary directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::filesystem::path File(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// RIFF WAVE bytes assembled chunk by chunk, so tests can put odd chunks,
// missing pad bytes and wrong sizes where they like.
class WaveBuilder {
public:
    WaveBuilder& Chunk(const char id[4], const std::vector<uint8_t>& payload, bool pad = true);
    // A chunk whose size field says `stated` whatever the payload holds.
    WaveBuilder& ChunkWithSize(const char id[4], uint32_t stated, const std::vector<uint8_t>& payload);
    WaveBuilder& RiffSize(uint32_t size);  // default: the true size
    std::vector<uint8_t> Bytes() const;

private:
    std::vector<uint8_t> body_;
    bool riff_size_set_ = false;
    uint32_t riff_size_ = 0;
};

std::vector<uint8_t> FormatChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);
// WAVE_FORMAT_EXTENSIBLE with the sub-format tag (1 PCM, 3 float) in the GUID.
std::vector<uint8_t> ExtensibleFormatChunk(uint16_t sub_tag, uint16_t channels, uint32_t rate,
                                           uint16_t bits, uint16_t valid_bits);
std::vector<uint8_t> Pcm16Bytes(const std::vector<int16_t>& samples);

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
// A plain 16-bit PCM WAVE file.
void WriteWave16(const std::filesystem::path& path, uint16_t channels, uint32_t rate,
                 const std::vector<int16_t>& samples);

// Encodes with the given mode and block size; true on success.
bool Encode(const std::filesystem::path& wave, const std::filesystem::path& sound, uint32_t mode,
            uint32_t block_size = 1024);
// Every decoded sample of an SNX file; false when opening or decoding fails.
bool DecodeAll(const std::filesystem::path& sound, std::vector<int16_t>& samples);

// Interleaved test signals, `frames` per channel.
std::vector<int16_t> Tone(uint32_t frames, uint16_t channels, uint32_t rate, double hz, double amplitude);
std::vector<int16_t> Chirp(uint32_t frames, uint16_t channels, uint32_t rate, double from_hz, double to_hz,
                           double amplitude);
std::vector<int16_t> NoiseBursts(uint32_t frames, uint16_t channels, uint32_t rate, uint32_t seed);
std::vector<int16_t> Square(uint32_t frames, uint16_t channels, uint32_t rate, double hz, int16_t level);
// Vowel-like harmonics with a moving pitch and pauses, left and right differ.
std::vector<int16_t> SpeechLike(uint32_t frames, uint32_t rate, uint32_t seed);
// A few instruments' partials with decays, stereo, partly correlated.
std::vector<int16_t> MusicLike(uint32_t frames, uint32_t rate, uint32_t seed);

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded);

}  // namespace snxtest
