#include "snx_test_util.h"
#include "snxlib/hadamard.h"
#include "snxlib/snx_decode.h"
#include "snxlib/snx_encode.h"
#include "snxlib/snx_format.h"
#include "snxlib/wave_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace {

using namespace snxtest;
using _snxlib_::CSNXDecode;
using _snxlib_::CSNXEncode;

uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t Le16(const std::vector<uint8_t>& b, std::size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

std::vector<uint8_t> BlockBytes(const std::vector<uint8_t>& file, uint32_t index) {
    const uint32_t blocks = Le32(file, 20);
    const uint32_t start = Le32(file, 96 + 4 * index);
    const uint32_t stop = index + 1 < blocks ? Le32(file, 96 + 4 * (index + 1)) : Le32(file, 4);
    return std::vector<uint8_t>(file.begin() + start, file.begin() + stop);
}

constexpr uint32_t kAllCodedModes[] = {0, 1, 64, 256, 257, 258, 259, 260};

TEST(SNXSettings, ModeAndBlockSizeRules) {
    CSNXEncode e;
    EXPECT_EQ(e.GetMode(), 1);
    EXPECT_EQ(e.GetBlockSize(), 1024u);
    for (uint32_t bad : {3u, 66u, 100u, 192u, 262u, 0x140u, 0x1FFu}) {
        EXPECT_EQ(e.SetMode(bad), 0) << bad;
        EXPECT_EQ(e.GetMode(), 1);
    }
    EXPECT_EQ(e.SetMode(0x10000), 1) << "only the low 16 bits count";
    EXPECT_EQ(e.GetMode(), 0);
    EXPECT_EQ(e.SetBlockSize(1000), 1);
    EXPECT_EQ(e.GetBlockSize(), 1000u) << "RawFile keeps multiples of 4";
    EXPECT_EQ(e.SetBlockSize(1003), 1);
    EXPECT_EQ(e.GetBlockSize(), 1000u);
    EXPECT_EQ(e.SetMode(0x103), 1);
    EXPECT_EQ(e.GetBlockSize(), 512u) << "re-applied as a power of two";
    EXPECT_EQ(e.SetBlockSize(1000), 1);
    EXPECT_EQ(e.GetBlockSize(), 512u);
    EXPECT_EQ(e.SetBlockSize(63), 0);
    EXPECT_EQ(e.SetBlockSize(0), 0);
    EXPECT_EQ(e.SetBlockSize(0x80000000u), 0) << "absurd sizes are refused";
    EXPECT_EQ(e.GetBlockSize(), 512u);
    EXPECT_EQ(e.SetMode(64), 1);
    EXPECT_EQ(e.SetBlockSize(127), 1);
    EXPECT_EQ(e.GetBlockSize(), 64u);
}

// The methods the settings offer are modes the encoder accepts and codes,
// and each mode is named back by its own text.
TEST(SNXSettings, EveryOfferedMethodCodesAndIsNamedBack) {
    for (const _snxlib_::SNXNamedMode& method : _snxlib_::kSoundMethodNames) {
        CSNXEncode e;
        EXPECT_EQ(e.SetMode(method.value), 1) << method.text;
        EXPECT_TRUE(_snxlib_::IsCodedMode(method.value)) << method.text;
        EXPECT_STREQ(_snxlib_::SoundMethodText(method.value), method.text);
    }
    EXPECT_EQ(_snxlib_::SoundMethodText(_snxlib_::kModeDelta), nullptr);
}

TEST(SNXFile, HeaderAndOffsetTableDescribeTheBlocks) {
    TempDir dir;
    const uint32_t frames = 2500;
    WriteWave16(dir.File("a.wav"), 2, 22050, Tone(frames, 2, 22050, 440, 8000));
    ASSERT_TRUE(Encode(dir.File("a.wav"), dir.File("a.snx"), 259, 1024));
    const std::vector<uint8_t> f = ReadBytes(dir.File("a.snx"));
    ASSERT_GE(f.size(), 96u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "SNXF");
    EXPECT_EQ(Le16(f, 8), 259);
    EXPECT_EQ(Le16(f, 10), 2);
    EXPECT_EQ(Le16(f, 12), 16);
    EXPECT_EQ(Le16(f, 14), 0);
    EXPECT_EQ(Le32(f, 16), 22050u);
    const uint32_t blocks = Le32(f, 20);
    EXPECT_EQ(blocks, 3u + 1u) << "ceil(5000 / 2048) and the flush block";
    EXPECT_EQ(Le32(f, 24), 5000u);
    EXPECT_EQ(Le32(f, 28), 2048u);
    EXPECT_EQ(Le32(f, 4), f.size());
    EXPECT_EQ(Le32(f, 36), 0u);
    uint32_t largest = 0;
    EXPECT_EQ(Le32(f, 96), 96 + 4 * blocks);
    for (uint32_t i = 0; i < blocks; ++i) largest = std::max<uint32_t>(largest, BlockBytes(f, i).size());
    EXPECT_EQ(Le32(f, 32), largest);

    CSNXDecode d;
    ASSERT_EQ(d.Open(dir.File("a.snx")), 1);
    EXPECT_EQ(d.GetChannels(), 2);
    EXPECT_EQ(d.GetBitsPerSample(), 16);
    EXPECT_EQ(d.GetSampleRate(), 22050u);
    EXPECT_EQ(d.GetSampleFrames(), frames);
    EXPECT_EQ(d.GetBlockSize(), 1024u);
    EXPECT_EQ(d.GetMode(), 259);
    EXPECT_EQ(d.GetLength(), f.size());
}

TEST(SNXFile, RawModeIsBitExact) {
    TempDir dir;
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (uint16_t channels : {1, 2, 5}) {
        for (uint32_t frames : {1u, 999u, 1000u, 3001u}) {
            std::vector<int16_t> samples(static_cast<std::size_t>(frames) * channels);
            for (auto& s : samples) s = static_cast<int16_t>(any(rng));
            WriteWave16(dir.File("r.wav"), channels, 48000, samples);
            ASSERT_TRUE(Encode(dir.File("r.wav"), dir.File("r.snx"), 0, 1000));
            std::vector<int16_t> decoded;
            ASSERT_TRUE(DecodeAll(dir.File("r.snx"), decoded));
            EXPECT_EQ(decoded, samples) << channels << " channels, " << frames << " frames";
        }
    }
}

TEST(SNXFile, EmptyAndSingleSampleFilesInEveryMode) {
    TempDir dir;
    for (uint32_t mode : kAllCodedModes) {
        for (uint32_t frames : {0u, 1u}) {
            const std::vector<int16_t> samples(frames * 2, 1234);
            WriteWave16(dir.File("s.wav"), 2, 44100, samples);
            ASSERT_TRUE(Encode(dir.File("s.wav"), dir.File("s.snx"), mode)) << mode;
            const std::vector<uint8_t> f = ReadBytes(dir.File("s.snx"));
            const bool mdct = mode >= 256;
            EXPECT_EQ(Le32(f, 20), frames + (mdct ? 1u : 0u)) << mode;
            std::vector<int16_t> decoded;
            ASSERT_TRUE(DecodeAll(dir.File("s.snx"), decoded)) << mode;
            ASSERT_EQ(decoded.size(), samples.size()) << mode;
            if (mode <= 1 && frames == 1) {
                EXPECT_EQ(decoded, samples);
            }
        }
    }
}

TEST(SNXFile, ModesWithoutABlockCoderAndMissingFilesFail) {
    TempDir dir;
    WriteWave16(dir.File("w.wav"), 1, 8000, Tone(500, 1, 8000, 300, 1000));
    for (uint32_t mode : {2u, 65u, 261u}) {
        CSNXEncode e;
        ASSERT_EQ(e.SetMode(mode), 1);
        EXPECT_EQ(e.EncodeFile(dir.File("w.wav"), dir.File("w.snx")), 0) << mode;
    }
    CSNXEncode e;
    EXPECT_EQ(e.EncodeFile(dir.File("missing.wav"), dir.File("x.snx")), 0);
    EXPECT_EQ(e.EncodeFile(dir.File("w.wav"), dir.File("no/such/dir/x.snx")), 0);
    WriteBytes(dir.File("eight.wav"),
               WaveBuilder().Chunk("fmt ", FormatChunk(1, 1, 8000, 8)).Chunk("data", std::vector<uint8_t>(100, 128)).Bytes());
    EXPECT_EQ(e.EncodeFile(dir.File("eight.wav"), dir.File("eight.snx")), 0);
    CSNXDecode d;
    EXPECT_EQ(d.Open(dir.File("eight.snx")), 0) << "the refused encode left no valid file";
    EXPECT_EQ(d.Open(dir.File("missing.snx")), 0);
}

TEST(SNXFile, CutoffLimitsTheCodedCoefficients) {
    EXPECT_EQ(_snxlib_::CodedCoefficientCount(259, 44100, 1024), 743u);
    EXPECT_EQ(_snxlib_::CodedCoefficientCount(260, 44100, 1024), 557u);
    EXPECT_EQ(_snxlib_::CodedCoefficientCount(257, 44100, 1024), 1024u);
    EXPECT_EQ(_snxlib_::CodedCoefficientCount(259, 32000, 1024), 1024u) << "cutoff at Nyquist codes all";
    // An 18 kHz tone survives "MDCT-High" and vanishes in "MDCT-Low".
    TempDir dir;
    const auto tone = Tone(20000, 2, 44100, 18000, 10000);
    WriteWave16(dir.File("t.wav"), 2, 44100, tone);
    std::vector<int16_t> high, low;
    ASSERT_TRUE(Encode(dir.File("t.wav"), dir.File("h.snx"), 257));
    ASSERT_TRUE(Encode(dir.File("t.wav"), dir.File("l.snx"), 259));
    ASSERT_TRUE(DecodeAll(dir.File("h.snx"), high));
    ASSERT_TRUE(DecodeAll(dir.File("l.snx"), low));
    EXPECT_GT(SnrDb(tone, high), 30);
    // Away from the tone's start and end, whose clicks reach below the cutoff.
    int loudest = 0;
    for (std::size_t i = 2 * 4096; i + 2 * 4096 < low.size(); ++i) loudest = std::max(loudest, std::abs(static_cast<int>(low[i])));
    EXPECT_LT(loudest, 50);
}

TEST(SNXFile, SilentChannelCodesAsSilentBandsAndTheEndCode) {
    TempDir dir;
    WriteWave16(dir.File("z.wav"), 1, 44100, std::vector<int16_t>(3000, 0));
    ASSERT_TRUE(Encode(dir.File("z.wav"), dir.File("z.snx"), 257));
    const std::vector<uint8_t> f = ReadBytes(dir.File("z.snx"));
    // Header byte, sixteen shifts of 15, then 000 and fifteen ones.
    const std::vector<uint8_t> silent = {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x1F, 0xFF, 0xC0};
    ASSERT_EQ(Le32(f, 20), 4u);
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(BlockBytes(f, i), silent) << i;
}

TEST(SNXFile, MidSideIsChosenForIdenticalNoiseLikeChannels) {
    TempDir dir;
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0, 5000);
    const uint32_t frames = 8192;
    std::vector<int16_t> same(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) same[2 * i] = same[2 * i + 1] = static_cast<int16_t>(std::clamp(noise(rng), -32000.0, 32000.0));
    WriteWave16(dir.File("n.wav"), 2, 44100, same);
    for (uint32_t mode : {258u, 259u, 260u}) {
        ASSERT_TRUE(Encode(dir.File("n.wav"), dir.File("n.snx"), mode));
        const std::vector<uint8_t> f = ReadBytes(dir.File("n.snx"));
        const uint32_t blocks = Le32(f, 20);
        for (uint32_t i = 0; i + 1 < blocks; ++i) EXPECT_EQ(BlockBytes(f, i)[0], 0xF8) << mode << " block " << i;
        std::vector<int16_t> decoded;
        ASSERT_TRUE(DecodeAll(dir.File("n.snx"), decoded));
        for (uint32_t i = 0; i < frames; ++i) ASSERT_EQ(decoded[2 * i], decoded[2 * i + 1]) << i;
    }
    // "MDCT-High" never uses mid/side.
    ASSERT_TRUE(Encode(dir.File("n.wav"), dir.File("n.snx"), 257));
    EXPECT_EQ(BlockBytes(ReadBytes(dir.File("n.snx")), 1)[0], 0xF0);
}

TEST(SNXFile, ClippingLevelSignalsSurviveMidSide) {
    // Sum or difference of such channels leaves 16 bits; the pair must not
    // come back wrapped.
    TempDir dir;
    const uint32_t frames = 10000;
    std::vector<int16_t> square = Square(frames, 2, 44100, 441, 32767);
    std::vector<int16_t> opposite = square;
    for (uint32_t i = 0; i < frames; ++i) opposite[2 * i + 1] = static_cast<int16_t>(-std::max<int>(opposite[2 * i], -32767));
    for (const std::vector<int16_t>* signal : {&square, &opposite}) {
        WriteWave16(dir.File("q.wav"), 2, 44100, *signal);
        for (uint32_t mode : {258u, 259u}) {
            ASSERT_TRUE(Encode(dir.File("q.wav"), dir.File("q.snx"), mode));
            std::vector<int16_t> decoded;
            ASSERT_TRUE(DecodeAll(dir.File("q.snx"), decoded));
            // Wrapped pairs would leave next to nothing of the signal; what is
            // lost here is the harmonics above the cutoff and the overshoot.
            EXPECT_GT(SnrDb(*signal, decoded), 12) << mode;
        }
    }
}

TEST(SNXFile, DecodesToAWaveFileAndFromInsideAnotherFile) {
    TempDir dir;
    const auto music = MusicLike(30000, 44100, 4);
    WriteWave16(dir.File("m.wav"), 2, 44100, music);
    ASSERT_TRUE(Encode(dir.File("m.wav"), dir.File("m.snx"), 258));
    std::vector<int16_t> direct;
    ASSERT_TRUE(DecodeAll(dir.File("m.snx"), direct));

    CSNXDecode d;
    ASSERT_EQ(d.Open(dir.File("m.snx")), 1);
    ASSERT_EQ(_snxlib_::DecodeToWave(d, dir.File("out.wav")), 1);
    std::FILE* f = std::fopen(dir.File("out.wav").c_str(), "rb");
    _snxlib_::CWaveReader reader;
    ASSERT_EQ(reader.Open(f), 1);
    EXPECT_EQ(reader.Channels(), 2);
    EXPECT_EQ(reader.SampleRate(), 44100u);
    std::vector<int16_t> from_wave(reader.TotalSamples());
    ASSERT_EQ(reader.ReadSamples(from_wave.data(), reader.TotalSamples()), 1);
    std::fclose(f);
    EXPECT_EQ(from_wave, direct);

    // The same bytes embedded with other data around them, read in small pieces.
    std::vector<uint8_t> wrapped(333, 0xAB);
    const std::vector<uint8_t> snx = ReadBytes(dir.File("m.snx"));
    wrapped.insert(wrapped.end(), snx.begin(), snx.end());
    wrapped.insert(wrapped.end(), 100, 0xCD);
    WriteBytes(dir.File("movie.bin"), wrapped);
    ASSERT_EQ(d.Open(dir.File("movie.bin"), 333, snx.size()), 1);
    std::vector<int16_t> pieces;
    std::vector<int16_t> buffer(2 * 777);
    uint32_t got = 0;
    do {
        ASSERT_EQ(d.Read(buffer.data(), 777, &got), 1);
        pieces.insert(pieces.end(), buffer.begin(), buffer.begin() + 2 * got);
    } while (got == 777);
    EXPECT_EQ(pieces, direct);
    EXPECT_EQ(d.Open(dir.File("movie.bin"), 333, snx.size() - 1), 0) << "the track ends before its blocks";
    ASSERT_EQ(d.Rewind(), 0);
}

}  // namespace

namespace {

TEST(SNXFile, DifferenceModeIsExactForSmallStepsAndCloseForLargeOnes) {
    TempDir dir;
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> step(-32, 32), jump(-32768, 32767);
    std::vector<int16_t> walk(4000), jumps(4000);
    int v = 0;
    for (auto& s : walk) s = static_cast<int16_t>(v = std::clamp(v + step(rng), -32768, 32767));
    for (auto& s : jumps) s = static_cast<int16_t>(jump(rng));
    std::vector<int16_t> decoded;
    WriteWave16(dir.File("w.wav"), 1, 8000, walk);
    ASSERT_TRUE(Encode(dir.File("w.wav"), dir.File("w.snx"), 1, 1024));
    ASSERT_TRUE(DecodeAll(dir.File("w.snx"), decoded));
    EXPECT_EQ(decoded, walk);

    WriteWave16(dir.File("j.wav"), 1, 8000, jumps);
    ASSERT_TRUE(Encode(dir.File("j.wav"), dir.File("j.snx"), 1, 1024));
    ASSERT_TRUE(DecodeAll(dir.File("j.snx"), decoded));
    ASSERT_EQ(decoded.size(), jumps.size());
    for (std::size_t i = 0; i < jumps.size(); ++i) {
        if (i % 1024 == 0) {
            EXPECT_EQ(decoded[i], jumps[i]) << "each block starts with a raw sample";
            continue;
        }
        // The difference is taken modulo 2^16 and keeps its five leading bits.
        const int difference = static_cast<int16_t>(jumps[i] - decoded[i - 1]);
        const int error = static_cast<int16_t>(jumps[i] - decoded[i]);
        EXPECT_LE(std::abs(error), std::abs(difference) / 17 + 1) << i;
    }
}

TEST(SNXFile, HadamardModeStoresEveryCoefficientExactly) {
    // The value code is lossless, so decoding gives exactly what the
    // transform pair gives without any file in between.
    TempDir dir;
    const uint32_t n = 64;
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> any(-32768, 32767);
    // Blocks at both extremes, alternating extremes, a tiny value, and noise.
    std::vector<int16_t> samples(6 * n);
    for (uint32_t i = 0; i < 6 * n; ++i) {
        const int16_t patterns[4] = {32767, -32768, static_cast<int16_t>(i % 2 ? 32767 : -32768), static_cast<int16_t>(i % n < 3)};
        samples[i] = i < 4 * n ? patterns[i / n] : static_cast<int16_t>(any(rng));
    }
    WriteWave16(dir.File("h.wav"), 1, 8000, samples);
    ASSERT_TRUE(Encode(dir.File("h.wav"), dir.File("h.snx"), 64, n));
    std::vector<int16_t> decoded;
    ASSERT_TRUE(DecodeAll(dir.File("h.snx"), decoded));
    _snxlib_::CHadamard h;
    h.Init(0, 6, 1);
    std::vector<int16_t> expected = samples;
    for (std::size_t at = 0; at < expected.size(); at += n) {
        h.Forward(&expected[at], 0);
        h.Inverse(&expected[at], 0);
    }
    EXPECT_EQ(decoded, expected);
}

}  // namespace
