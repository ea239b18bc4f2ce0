#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "rvxlib/format/frame_bitstream.h"
#include "video_codec_fixture.h"

using namespace rvx_test;

class DecodeEqualsReconstruction
    : public ::testing::TestWithParam<std::tuple<uint32_t, uint32_t, RVXPreset>> {};

// The decoder is the oracle: whatever a preset decides, the pictures it
// shows are the ones the encoder predicted from. The presets that decide by
// cost also meet a cut to unrelated noise (frame 6) and the finest quantiser;
// fast and slow quantise adaptively as well.
TEST_P(DecodeEqualsReconstruction, EveryPictureByteForByte) {
    const auto [layout, transform, preset] = GetParam();
    const uint32_t format = layout | transform;
    const uint32_t width = 72, height = 40;  // padded to 80 x 48
    Encoder e(width, height, format, 2, 2, 256, 0, preset);
    if (preset != RVXPreset::kClassic) {
        RVXGroupSettings settings = e.settings;
        settings.quality_i = settings.quality_p = 2;
        settings.quality_b = 3;
        settings.adaptive_quantisation = preset != RVXPreset::kMedium;
        e.open_ok = e.coder.Open(e.codec.Set(), settings, 0, &e.sink);
    }
    ASSERT_TRUE(e.open_ok);
    Source src{width, height, (layout & 0x40) != 0};
    for (int n = 0; n < 9; ++n) {
        const int scene = preset != RVXPreset::kClassic && n >= 6 ? 1 : 0;
        ASSERT_TRUE(e.coder.AddFrame(src.Frame(n, 1.5, 0.5, scene).data()));
    }
    ASSERT_TRUE(e.coder.FinishFrames());
    ASSERT_FALSE(e.coder.HasFailed());
    ASSERT_EQ(e.reconstructed.size(), 9u);

    CRVXFrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(DecoderSettings(e, width, height), 0));
    const Decoded d = DecodeAll(e, decoder);
    EXPECT_EQ(d.failures, 0);
    std::vector<uint32_t> display_order(9);
    for (uint32_t n = 0; n < 9; ++n) display_order[n] = n;
    EXPECT_EQ(d.order, display_order);
    for (uint32_t n = 0; n < 9; ++n) {
        ASSERT_TRUE(d.pictures.count(n)) << n;
        EXPECT_TRUE(d.pictures.at(n) == e.reconstructed.at(n)) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, DecodeEqualsReconstruction,
                         ::testing::Combine(::testing::Values(0x03u, 0x02u, 0x01u, 0x10u, 0x50u,
                                                              0x41u, 0x42u, 0x43u),
                                            ::testing::Values(0x2000u, 0x1000u, 0x12000u),
                                            ::testing::Values(RVXPreset::kClassic, RVXPreset::kFast,
                                                              RVXPreset::kMedium, RVXPreset::kSlow)));

// The presets that decide by cost choose each run of B frames by looking
// ahead. A steady pan predicts as well from afar, so the runs stay as long
// as the settings allow; content replaced a third at a time predicts well
// only from the picture next to it, so it is coded as P frames. Either way
// the decoder shows the pictures the encoder kept.
TEST(GroupPlan, RunsOfBFramesFollowHowWellDistantPicturesPredict) {
    const uint32_t width = 256, height = 192;
    const Source pan{width, height, false};
    // Macroblock slots 0, 1, 2 take new noise in turn and keep it.
    auto rolling = [&](int n) {
        std::vector<uint8_t> p(pan.Pitch() * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const int slot = int((x / 16 + y / 16 * (width / 16)) % 3);
                const uint32_t since = uint32_t(n - ((n - slot) % 3 + 3) % 3);
                const uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ ((since + 1) * 83492791u);
                // Grey, so that subsampled chroma keeps all of it.
                for (int k = 0; k < 3; ++k) p[y * pan.Pitch() + x * 3 + k] = uint8_t((h * 2654435761u) >> 24);
            }
        return p;
    };
    for (const bool replaced : {false, true}) {
        Encoder e(width, height, 0x12003, 3, 2, 256, 0, RVXPreset::kMedium);
        ASSERT_TRUE(e.open_ok);
        for (int n = 0; n < 20; ++n)
            ASSERT_TRUE(e.coder.AddFrame(replaced ? rolling(n).data() : pan.Frame(n).data())) << n;
        ASSERT_TRUE(e.coder.FinishFrames());
        uint32_t b_frames = 0;
        for (const auto& record : e.sink.records) b_frames += (record.type & kRecordTypeMask) == kRecordB;
        EXPECT_EQ(b_frames, replaced ? 0u : 12u) << (replaced ? "replaced" : "pan");

        CRVXFrameDecoder decoder;
        ASSERT_TRUE(decoder.Open(DecoderSettings(e, width, height), 0));
        const Decoded d = DecodeAll(e, decoder);
        EXPECT_EQ(d.failures, 0);
        ASSERT_EQ(d.pictures.size(), 20u);
        for (const auto& [n, picture] : d.pictures) EXPECT_TRUE(picture == e.reconstructed.at(n)) << n;
    }
}

TEST(FrameDecoder, IntegerInverseStaysCloseToTheEncoderPictures) {
    Encoder e(64, 48, 0x2003, 2, 2, 256);
    ASSERT_TRUE(e.open_ok);
    Source src{64, 48, false};
    for (int n = 0; n < 7; ++n) ASSERT_TRUE(e.coder.AddFrame(src.Frame(n).data()));
    ASSERT_TRUE(e.coder.FinishFrames());
    CRVXFrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(DecoderSettings(e, 64, 48, RVXInverseDct::kInteger), 0));
    const Decoded d = DecodeAll(e, decoder);
    EXPECT_EQ(d.failures, 0);
    ASSERT_EQ(d.pictures.size(), 7u);
    for (const auto& [n, picture] : d.pictures) {
        const auto& reference = e.reconstructed.at(n);
        double squared = 0;
        for (std::size_t i = 0; i < picture.size(); ++i) {
            const double diff = double(picture[i]) - reference[i];
            squared += diff * diff;
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / picture.size() + 1e-9));
        EXPECT_GT(psnr, 35.0) << "frame " << n;
    }
}

TEST(FrameDecoder, RefusesVectorsOutsideTheReferenceAndKeepsTheBlockAsDecoded) {
    // NoDEF: no deblocking, so every macroblock shows exactly what was added.
    const uint32_t w = 64, h = 48;
    Encoder e(w, h, 0x12001, 0, 0, 256);
    ASSERT_TRUE(e.open_ok);
    ASSERT_TRUE(e.coder.AddFrame(Source{w, h, false}.Frame(0).data()));
    ASSERT_TRUE(e.coder.FinishFrames());
    const auto reference = e.reconstructed.at(0);

    // A P frame of all-zero blocks: each macroblock is its prediction or, when
    // the vector is refused, the decoded zeros.
    const RVXFrameLayout layout{4, 3, 12};
    std::vector<int16_t> zeros(4 * 3 * 12 * 64, 0);
    std::vector<RVXMotionEntry> motion(12);
    motion[0] = {1, 1, 4, 2};       // inside
    motion[1] = {1, 1, -40, 0};     // x - 20 < 0: left of the picture
    motion[2] = {1, 1, 0, -2};      // above
    motion[5] = {1, 1, 0, 64};      // row 1 + 32 rows: below the last full row
    motion[6] = {1, 1, 64, 0};      // right
    motion[4] = {1, 0, 0, 0};       // a P frame has no later reference
    std::vector<uint8_t> p_bytes;
    ASSERT_TRUE(CodeFramePayload(layout, 6, zeros.data(), motion.data(), &p_bytes));
    const auto i_bytes = e.sink.payloads.at(0);

    CRVXFrameDecoder decoder;
    ASSERT_TRUE(decoder.Open(DecoderSettings(e, w, h), 0));
    decoder.BeginGroup(0, 2);
    ASSERT_TRUE(decoder.DecodeFrame(kRecordI, i_bytes.data(), i_bytes.size()));
    ASSERT_TRUE(decoder.DecodeFrame(kRecordP | 1 | 1u << 16, p_bytes.data(), p_bytes.size()));
    uint32_t n = 0;
    ASSERT_NE(decoder.NextPicture(&n), nullptr);
    const uint8_t* p = decoder.NextPicture(&n);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(n, 1u);
    const std::size_t pitch = w * 4;
    auto pixel = [&](const uint8_t* pic, int x, int y) { return pic + y * pitch + x * 4; };
    // Macroblock 0 predicted from (2, 1) of the reference.
    EXPECT_EQ(std::memcmp(pixel(p, 0, 0), pixel(reference.data(), 2, 1), 64), 0);
    for (int mb : {1, 2, 4, 5, 6}) {
        const int x = (mb % 4) * 16, y = (mb / 4) * 16;
        for (int k = 0; k < 64; ++k) {
            if (k % 4 == 3) continue;  // alpha is not coded in this format
            EXPECT_EQ(pixel(p, x, y)[k], 0) << "macroblock " << mb;
        }
    }
}

TEST(FrameDecoder, DamagedPayloadsNeverCrashAndEveryFrameStillComesOut) {
    const uint32_t w = 48, h = 32;
    Encoder e(w, h, 0x2043, 2, 2, 256);
    ASSERT_TRUE(e.open_ok);
    Source src{w, h, true};
    for (int n = 0; n < 7; ++n) ASSERT_TRUE(e.coder.AddFrame(src.Frame(n).data()));
    ASSERT_TRUE(e.coder.FinishFrames());

    std::mt19937 rng(5);
    int failures = 0;
    for (int round = 0; round < 60; ++round) {
        CRVXFrameDecoder decoder;
        ASSERT_TRUE(decoder.Open(DecoderSettings(e, w, h), 0));
        const Decoded d = DecodeAll(e, decoder, [&](std::vector<uint8_t>& bytes) {
            if (round % 3 == 0) {
                bytes.resize(rng() % (bytes.size() + 1));
            } else if (round % 3 == 1) {
                for (int f = 0; f < 4; ++f) bytes[rng() % bytes.size()] ^= uint8_t(1u << (rng() % 8));
            } else {
                for (auto& b : bytes) b = uint8_t(rng());
            }
        });
        failures += d.failures;
        EXPECT_EQ(d.pictures.size(), 7u) << round;
    }
    EXPECT_GT(failures, 0);
}

TEST(FrameDecoder, RefusesImpossibleRecordsAndSettings) {
    CRVXFrameDecoder decoder;
    RVXDecoderSettings s;
    s.width = 32;
    s.height = 32;
    s.format = 0x5003;  // no such transform
    EXPECT_FALSE(decoder.Open(s, 0));
    s.format = 0x2004;  // no such layout
    EXPECT_FALSE(decoder.Open(s, 0));
    // Bits the writer never stores: undefined ones and the steering bits.
    for (uint32_t stray : {0x80u, 0x100u, 0x40000u, 0x100000u, 0x10000000u}) {
        s.format = 0x2003 | stray;
        EXPECT_FALSE(decoder.Open(s, 0)) << std::hex << stray;
    }
    s.format = 0x2003;
    s.width = 16385;  // the writer's limit holds for the reader too
    EXPECT_FALSE(decoder.Open(s, 0));
    s.width = 0x7FFFFFFF;
    EXPECT_FALSE(decoder.Open(s, 0));
    s.width = 32;
    ASSERT_TRUE(decoder.Open(s, 0));

    const uint8_t junk[8] = {};
    EXPECT_FALSE(decoder.DecodeFrame(kRecordI, junk, sizeof junk));  // no group begun
    decoder.BeginGroup(0, 3);
    EXPECT_FALSE(decoder.DecodeFrame(kRecordI | 3, junk, sizeof junk));          // beyond the group
    EXPECT_FALSE(decoder.DecodeFrame(kRecordP | 1 | 2u << 16, junk, sizeof junk));  // reference before 0
    EXPECT_FALSE(decoder.DecodeFrame(kRecordB | 2 | 1u << 16 | 1u << 28, junk, 8));  // later one missing
    EXPECT_FALSE(decoder.DecodeFrame(kRecordP | 1 | 1u << 16, junk, 8));  // duplicate position 1

    // A group that never delivers its first position: the pictures after it
    // come out once too many wait, instead of piling up.
    decoder.BeginGroup(100, 4000);
    uint32_t n = 0, shown = 0;
    for (uint32_t pos = 1; pos < 200; ++pos) {
        decoder.DecodeFrame(kRecordI | pos, junk, sizeof junk);
        while (decoder.NextPicture(&n)) ++shown;
    }
    EXPECT_GT(shown, 150u);
}
