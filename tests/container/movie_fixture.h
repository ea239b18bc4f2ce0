#pragma once
// Builds small movies for the container tests: payloads with known bytes
// handed to the writer as the group coder hands them, a hand-made SNX sound
// file, and the writer set up around them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "container/rvx_encode.h"
#include "container/rvx_layout.h"

namespace movie_fixture {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("rvx-container-test-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    // A new file rather than a truncated one: file systems flush on truncation.
    std::error_code ignored;
    fs::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Type words of one group of count frames in coding order, for a GOP with
// bFrames B frames between references: I first, then each P followed by the
// B frames before it; a trailing B becomes P.
inline std::vector<uint32_t> GroupTypeWords(uint32_t count, uint32_t bFrames) {
    using namespace rvx_layout;
    std::vector<uint32_t> plan(count, kRecordP);
    plan[0] = kRecordI;
    uint32_t run = 0;
    for (uint32_t j = 1; j < count; ++j) {
        if (run < bFrames) {
            plan[j] = kRecordB;
            ++run;
        } else {
            run = 0;
        }
    }
    if (count > 1 && plan[count - 1] == kRecordB) plan[count - 1] = kRecordP;
    std::vector<uint32_t> words = {kRecordI};
    uint32_t last = 0;
    for (uint32_t j = 1; j < count; ++j) {
        if (plan[j] != kRecordP) continue;
        words.push_back(kRecordP | j | ((j - last) << kRecordBackShift));
        for (uint32_t g = last + 1; g < j; ++g) {
            words.push_back(kRecordB | g | ((g - last) << kRecordBackShift) |
                            ((j - g) << kRecordForwardShift));
        }
        last = j;
    }
    return words;
}

// Deterministic payload bytes of a display frame; lengths vary with n.
inline std::vector<uint8_t> PayloadOf(uint32_t n) {
    std::vector<uint8_t> bytes(17 + (n * 37) % 300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(n * 131 + i * 7 + (i >> 3));
    return bytes;
}

// A valid raw-mode (mode 0) SNX file: header, block table, blocks of samples.
inline std::vector<uint8_t> MakeSnx(uint16_t channels, uint32_t rate, uint32_t sampleFrames,
                                    uint32_t blockSize = 256) {
    using namespace rvx_layout;
    const uint32_t total = sampleFrames * channels;
    const uint32_t blockLength = blockSize * channels;
    const uint32_t blocks = (total + blockLength - 1) / blockLength;
    std::vector<uint8_t> file(96 + 4 * blocks, 0);
    std::memcpy(file.data(), "SNXF", 4);
    StoreLE16(&file[8], 0);
    StoreLE16(&file[10], channels);
    StoreLE16(&file[12], 16);
    StoreLE32(&file[16], rate);
    StoreLE32(&file[20], blocks);
    StoreLE32(&file[24], total);
    StoreLE32(&file[28], blockLength);
    uint32_t largest = 0, done = 0;
    for (uint32_t b = 0; b < blocks; ++b) {
        StoreLE32(&file[96 + 4 * b], uint32_t(file.size()));
        const uint32_t t = std::min(blockLength, total - done);
        for (uint32_t s = 0; s < t; ++s) {
            const uint16_t sample = uint16_t(s * 97 + b);
            file.push_back(uint8_t(sample >> 8));
            file.push_back(uint8_t(sample));
        }
        largest = std::max(largest, t * 2);
        done += t;
    }
    StoreLE32(&file[4], uint32_t(file.size()));
    StoreLE32(&file[32], largest);
    return file;
}

inline constexpr uint32_t kFormatYUV411Dct = 0x10000000 | 0x2000 | 0x03;

// A writer set up for a small picture whose frame files live in dir.
inline void SetUpWriter(CRVXEncode& writer, const fs::path& dir, uint32_t format = kFormatYUV411Dct) {
    writer.SetFrameRate(30000, 1001);
    writer.SetPicture(48, 32, format);
    writer.SetWorkDirectory(dir);
    writer.SetFramePrefix(dir / "rvxframe");
    ASSERT_TRUE(writer.Open());
}

// Hands the writer the payload of display frame n.
inline void HandFrame(CRVXEncode& writer, uint32_t n) {
    const std::vector<uint8_t> payload = PayloadOf(n);
    ASSERT_TRUE(writer.Payloads().TakeFrame(n, payload.data(), payload.size()));
}

// Hands the writer a group: the display number of its I frame and the type
// words of its records in coding order.
inline void HandGroup(CRVXEncode& writer, uint32_t first, const std::vector<uint32_t>& words) {
    std::vector<rvx_layout::RVXFrameRecord> records;
    for (uint32_t word : words) records.push_back({word, 0, 0});
    writer.Payloads().TakeGroup(first, records);
}

// Hands the writer the payloads and groups of a movie of frameCount frames
// cut into groups of at most groupLength frames.
inline void StageFrames(CRVXEncode& writer, uint32_t frameCount, uint32_t groupLength, uint32_t bFrames) {
    for (uint32_t first = 0; first < frameCount; first += groupLength) {
        const uint32_t count = std::min(groupLength, frameCount - first);
        for (uint32_t j = 0; j < count; ++j) HandFrame(writer, first + j);
        HandGroup(writer, first, GroupTypeWords(count, bFrames));
    }
}

}  // namespace movie_fixture
