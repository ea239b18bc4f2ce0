#include "snx_test_util.h"
#include "snxlib/wave_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using namespace snxtest;
using _snxlib_::CWaveReader;

struct Opened {
    int32_t status = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    std::vector<int16_t> samples;
};

Opened OpenBytes(const TempDir& dir, const std::vector<uint8_t>& bytes) {
    const auto path = dir.File("in.wav");
    WriteBytes(path, bytes);
    Opened out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    CWaveReader reader;
    out.status = reader.Open(f);
    if (out.status) {
        out.channels = reader.Channels();
        out.rate = reader.SampleRate();
        out.samples.resize(reader.TotalSamples());
        if (!reader.ReadSamples(out.samples.data(), reader.TotalSamples())) out.status = -1;
    }
    std::fclose(f);
    return out;
}

std::vector<uint8_t> Le(std::initializer_list<uint32_t> values, int bytes) {
    std::vector<uint8_t> v;
    for (uint32_t x : values) {
        for (int b = 0; b < bytes; ++b) v.push_back(static_cast<uint8_t>(x >> (8 * b)));
    }
    return v;
}

std::vector<uint8_t> Floats(std::initializer_list<float> values) {
    std::vector<uint8_t> v;
    for (float f : values) {
        uint32_t w;
        std::memcpy(&w, &f, 4);
        auto b = Le({w}, 4);
        v.insert(v.end(), b.begin(), b.end());
    }
    return v;
}

TEST(WaveReader, ConvertsEverySupportedSampleFormatTo16Bits) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<uint8_t> fmt, data;
        std::vector<int16_t> expected;
    };
    const Case cases[] = {
        {"pcm16", FormatChunk(1, 2, 8000, 16), Le({0x1234, 0x8000, 0xFFFF, 0x7FFF}, 2), {0x1234, -32768, -1, 32767}},
        // 24 and 32 bits: divided toward zero, so -1 LSB becomes 0.
        {"pcm24", FormatChunk(1, 1, 8000, 24), Le({0x7FFFFF, 0x800000, 0xFFFFFF, 0x0001FF, 0xFFFE01}, 3),
         {32767, -32768, 0, 1, -1}},
        {"pcm32", FormatChunk(1, 1, 8000, 32), Le({0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x00018000}, 4),
         {32767, -32768, 0, 1}},
        {"float", FormatChunk(3, 1, 8000, 32), Floats({1.0f, -1.0f, 0.5f, -0.25f}), {32767, -32767, 16383, -8191}},
        {"ext-pcm24", ExtensibleFormatChunk(1, 1, 8000, 24, 24), Le({0x123456}, 3), {0x1234}},
        {"ext-pcm32-in-24", ExtensibleFormatChunk(1, 2, 8000, 32, 24), Le({0x12345600, 0xFFFFFF00}, 4), {0x1234, 0}},
        {"ext-float", ExtensibleFormatChunk(3, 1, 8000, 32, 32), Floats({0.75f}), {24575}},
    };
    for (const Case& c : cases) {
        const Opened o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", c.fmt).Chunk("data", c.data).Bytes());
        ASSERT_EQ(o.status, 1) << c.name;
        EXPECT_EQ(o.rate, 8000u) << c.name;
        EXPECT_EQ(o.samples, c.expected) << c.name;
    }
}

TEST(WaveReader, FloatSamplesBeyondFullScaleClipInsteadOfWrapping) {
    TempDir dir;
    const Opened o = OpenBytes(dir, WaveBuilder()
                                        .Chunk("fmt ", FormatChunk(3, 1, 8000, 32))
                                        .Chunk("data", Floats({1.5f, -2.0f, 1e30f, NAN}))
                                        .Bytes());
    ASSERT_EQ(o.status, 1);
    EXPECT_EQ(o.samples, (std::vector<int16_t>{32767, -32768, 32767, 0}));
}

TEST(WaveReader, RefusesWhatItCannotRead) {
    TempDir dir;
    const std::vector<uint8_t> data = Le({1, 2, 3, 4}, 2);
    auto with_fmt = [&](std::vector<uint8_t> fmt) {
        return OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).Chunk("data", data).Bytes()).status;
    };
    EXPECT_EQ(with_fmt(FormatChunk(1, 1, 8000, 8)), 0) << "8-bit PCM";
    EXPECT_EQ(with_fmt(FormatChunk(1, 1, 8000, 20)), 0) << "20-bit PCM";
    EXPECT_EQ(with_fmt(FormatChunk(3, 1, 8000, 64)), 0) << "64-bit float";
    EXPECT_EQ(with_fmt(FormatChunk(2, 1, 8000, 4)), 0) << "ADPCM";
    EXPECT_EQ(with_fmt(FormatChunk(1, 0, 8000, 16)), 0) << "no channels";
    EXPECT_EQ(with_fmt(ExtensibleFormatChunk(2, 1, 8000, 16, 16)), 0) << "unknown sub-format";
    auto short_fmt = FormatChunk(1, 1, 8000, 16);
    short_fmt.resize(12);
    EXPECT_EQ(with_fmt(short_fmt), 0) << "fmt shorter than its fields";

    EXPECT_EQ(OpenBytes(dir, WaveBuilder().Chunk("data", data).Bytes()).status, 0) << "no fmt";
    EXPECT_EQ(OpenBytes(dir, WaveBuilder().Chunk("fmt ", FormatChunk(1, 1, 8000, 16)).Bytes()).status, 0)
        << "no data";
    auto not_riff = WaveBuilder().Chunk("fmt ", FormatChunk(1, 1, 8000, 16)).Chunk("data", data).Bytes();
    not_riff[0] = 'X';
    EXPECT_EQ(OpenBytes(dir, not_riff).status, 0);
    EXPECT_EQ(OpenBytes(dir, {'R', 'I', 'F'}).status, 0);
    EXPECT_EQ(OpenBytes(dir, {}).status, 0);
}

TEST(WaveReader, FindsChunksBehindLargeMetadata) {
    TempDir dir;
    const std::vector<int16_t> samples = {1, -2, 3, -4, 5, -6};
    std::vector<uint8_t> list(5000, 'x');
    std::vector<uint8_t> bext(3000, 0);
    const Opened o = OpenBytes(dir, WaveBuilder()
                                        .Chunk("bext", bext)
                                        .Chunk("fmt ", FormatChunk(1, 2, 44100, 16))
                                        .Chunk("LIST", list)
                                        .Chunk("data", Pcm16Bytes(samples))
                                        .Bytes());
    ASSERT_EQ(o.status, 1);
    EXPECT_EQ(o.channels, 2);
    EXPECT_EQ(o.samples, samples);
}

TEST(WaveReader, HonoursThePadByteAfterOddChunksAndToleratesItsAbsence) {
    TempDir dir;
    const std::vector<int16_t> samples = {100, 200, 300};
    const std::vector<uint8_t> odd = {'a', 'b', 'c', 'd', 'e'};
    for (bool pad : {true, false}) {
        const Opened o = OpenBytes(dir, WaveBuilder()
                                            .Chunk("fmt ", FormatChunk(1, 1, 8000, 16))
                                            .Chunk("note", odd, pad)
                                            .Chunk("data", Pcm16Bytes(samples))
                                            .Bytes());
        ASSERT_EQ(o.status, 1) << "pad " << pad;
        EXPECT_EQ(o.samples, samples) << "pad " << pad;
    }
}

TEST(WaveReader, DataSizesPastTheEndReadWhatIsThere) {
    TempDir dir;
    const std::vector<int16_t> samples = {10, 20, 30, 40, 50, 60, 70};
    const auto fmt = FormatChunk(1, 1, 8000, 16);
    const auto data = Pcm16Bytes(samples);
    // Truncated recording: the size promises more than the file holds.
    Opened o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).ChunkWithSize("data", 100000, data).Bytes());
    ASSERT_EQ(o.status, 1);
    EXPECT_EQ(o.samples, samples);
    // Streaming writers that never came back to fill the sizes in.
    o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).ChunkWithSize("data", 0xFFFFFFFF, data).Bytes());
    EXPECT_EQ(o.samples, samples);
    for (uint32_t riff : {0u, 0xFFFFFFFFu, 36u}) {
        o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).ChunkWithSize("data", 0, data).RiffSize(riff).Bytes());
        EXPECT_EQ(o.samples, samples) << "riff size " << riff;
    }
    // A genuinely empty data chunk followed by more chunks stays empty.
    o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).Chunk("data", {}).Chunk("LIST", data).Bytes());
    ASSERT_EQ(o.status, 1);
    EXPECT_TRUE(o.samples.empty());
    // A byte of a cut-off sample, and a cut-off stereo frame, are dropped.
    auto cut = data;
    cut.pop_back();
    o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", fmt).Chunk("data", cut).Bytes());
    EXPECT_EQ(o.samples, std::vector<int16_t>(samples.begin(), samples.end() - 1));
    o = OpenBytes(dir, WaveBuilder().Chunk("fmt ", FormatChunk(1, 2, 8000, 16)).Chunk("data", data).Bytes());
    EXPECT_EQ(o.samples, std::vector<int16_t>(samples.begin(), samples.end() - 1));
}

}  // namespace
