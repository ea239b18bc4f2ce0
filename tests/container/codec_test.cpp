#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"
#include "container/rvx_movie_decoder.h"
#include "container/rvx_reader.h"
#include "movie_fixture.h"
#include "rvxlib/format/codec_plan.h"
#include "snxlib/snx_decode.h"
#include "snxlib/wave_writer.h"

using namespace rvx_layout;
using namespace movie_fixture;

namespace {

const uint32_t kPictures[] = {kPictureYUV411,   kPictureYUV422,   kPictureYUV444,   kPictureRGB888,
                              kPictureARGB8888, kPictureAYUV4444, kPictureAYUV4422, kPictureAYUV4411};
const uint32_t kTransforms[] = {kTransformWordDct, kTransformWordDiff2D, kTransformWordDctNoDeblock};

// A source picture that moves and changes a little from frame to frame, with
// an alpha ramp, in the given source layout (rows padded to 4 bytes).
std::vector<uint8_t> SourcePicture(uint32_t layout, uint32_t width, uint32_t height, uint32_t frame) {
    const uint32_t bytes = layout == kSourceBGR24 ? 3 : 4;
    const size_t stride = (size_t(width) * bytes + 3) & ~size_t(3);
    std::vector<uint8_t> picture(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = &picture[y * stride + x * bytes];
            const bool square = x >= 4 + 2 * frame && x < 16 + 2 * frame && y >= 6 && y < 18;
            p[0] = uint8_t(square ? 30 : 8 * x + frame);
            p[1] = uint8_t(square ? 220 : 5 * y + 3 * x);
            p[2] = uint8_t(square ? 90 : 128 + 40 * std::sin(0.3 * (x + y + frame)));
            if (bytes == 4) p[3] = uint8_t(255 - 6 * x);
        }
    }
    return picture;
}

void WriteWave(const fs::path& path, uint16_t channels, uint32_t rate, uint32_t frames) {
    _snxlib_::CWaveWriter wave;
    ASSERT_EQ(wave.Open(path, channels, rate), 1);
    std::vector<int16_t> samples(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            samples[size_t(i) * channels + c] = int16_t(8000 * std::sin(0.05 * i * (c + 1)));
        }
    }
    ASSERT_EQ(wave.Write(samples.data(), frames), 1);
    ASSERT_EQ(wave.Close(), 1);
}

}  // namespace

// Every format word the settings can produce builds a codec, and the stored
// flags keep alpha only when the source has it.
TEST(SetupCodec, BuildsEveryPictureFormatTransformAndSourceLayout) {
    for (uint32_t picture : kPictures) {
        for (uint32_t transform : kTransforms) {
            for (uint32_t layout : {kSourceBGR24, kSourceBGRX32, kSourceBGRA32}) {
                const uint32_t format = (layout << kFormatSourceShift) | transform | picture;
                SCOPED_TRACE(testing::Message() << std::hex << format);
                CRVXEncode writer;
                writer.SetFrameRate(25, 1);
                writer.SetPicture(40, 24, format);
                ASSERT_TRUE(writer.Open());
                const uint32_t keptPicture = layout == kSourceBGRA32 ? picture : picture & ~kFormatAlphaMask;
                EXPECT_EQ(writer.HeaderWord(kOffsetFormatFlags), keptPicture | transform);
                EXPECT_TRUE(writer.Transform() && writer.ColourConverter() && writer.PixelBlock() &&
                            writer.BlockConverter() && writer.MovingBlock() && writer.DeblockFilter());
                const _rvxlib_::CodecPlan& plan = writer.Plan();
                EXPECT_EQ(plan.padded_width, 48u);
                EXPECT_EQ(plan.padded_height, 32u);
                EXPECT_EQ(plan.alpha, (keptPicture & kFormatAlpha) != 0);
                EXPECT_EQ(plan.deblock == _rvxlib_::DeblockKind::kEdgeUnsigned, transform == kTransformWordDct);
                EXPECT_EQ(plan.transform == _rvxlib_::TransformKind::kDiff2D, transform == kTransformWordDiff2D);
                // 32-bit pixels are made opaque unless their alpha is coded.
                const bool opaque = layout == kSourceBGRX32 || (layout == kSourceBGRA32 && !plan.alpha);
                EXPECT_EQ(plan.alpha_mask, opaque ? 0xFF000000u : 0u);
            }
        }
    }
}

// The decoder is the encoder's oracle: what a player decodes from the file
// equals, byte for byte, the pictures the encoder predicted from.
TEST(EncodedMovie, DecodesToTheEncodersReconstructionInEveryFormat) {
    const uint32_t width = 40, height = 24, frames = 9;
    for (uint32_t picture : kPictures) {
        for (uint32_t transform : kTransforms) {
            const uint32_t layout = (picture & kFormatAlpha) ? kSourceBGRA32
                                    : (picture & kFormatRGB)  ? kSourceBGRX32
                                                              : kSourceBGR24;
            SCOPED_TRACE(testing::Message() << std::hex << picture << " " << transform);
            TempDir dir;
            CRVXEncode writer;
            writer.SetFrameRate(24, 1);
            writer.SetGopStructure(2, 1);
            writer.SetSceneChange(256);
            writer.SetPicture(width, height, (layout << kFormatSourceShift) | transform | picture);
            writer.SetWorkDirectory(dir.path());
            writer.SetFramePrefix(dir / "rvxframe");
            ASSERT_TRUE(writer.Open());
            std::map<uint32_t, std::vector<uint8_t>> reconstructed;
            const size_t pictureSize = size_t(writer.Plan().padded_width) * writer.Plan().padded_height * 4;
            writer.GroupCoder().SetFrameObserver([&](uint32_t n, uint32_t, const uint8_t* p) {
                reconstructed[n].assign(p, p + pictureSize);
            });
            for (uint32_t n = 0; n < frames; ++n) {
                const std::vector<uint8_t> source = SourcePicture(layout, width, height, n);
                ASSERT_TRUE(writer.AddFrame(source.data()));
            }
            ASSERT_TRUE(writer.FinishFrames());
            const fs::path path = dir / "movie.rvx";
            ASSERT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
            ASSERT_EQ(reconstructed.size(), frames);

            CRVXReader reader;
            ASSERT_TRUE(reader.Open(path)) << reader.Problems().front().message;
            ASSERT_TRUE(reader.Verify()) << reader.Problems().front().message;
            EXPECT_EQ(reader.GroupCount(), 2u);
            EXPECT_EQ(reader.GopLength(), 5u);
            CRVXMovieDecoder decoder;
            ASSERT_TRUE(decoder.Open(reader));
            uint32_t expected = 0, number = 0;
            while (const uint8_t* decoded = decoder.NextPicture(&number)) {
                ASSERT_EQ(number, expected);
                EXPECT_EQ(std::memcmp(decoded, reconstructed[number].data(), pictureSize), 0) << "frame " << number;
                ++expected;
            }
            EXPECT_EQ(expected, frames);
            EXPECT_EQ(decoder.DamagedFrames(), 0u);
        }
    }
}

TEST(EncodedMovie, CarriesTheStagedSoundTrack) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    WriteWave(dir / "tmpsnd.wav", 2, 22050, 5000);
    for (uint32_t n = 0; n < 3; ++n) {
        ASSERT_TRUE(writer.AddFrame(SourcePicture(kSourceBGR24, 48, 32, n).data()));
    }
    // "MDCT-Low"; the block size becomes a power of two.
    ASSERT_TRUE(writer.StageSound(dir / "tmpsnd.wav", 0x103, 1000));
    ASSERT_TRUE(writer.FinishFrames());
    const fs::path path = dir / "movie.rvx";
    ASSERT_TRUE(writer.WriteMovie(path, PosixFileWriteOps()));
    EXPECT_FALSE(fs::exists(dir / "tmpsnd.snx"));

    CRVXReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Problems().front().message;
    ASSERT_TRUE(reader.Verify()) << reader.Problems().front().message;
    ASSERT_TRUE(reader.HasSound());
    EXPECT_EQ(LoadLE16(reader.Header() + kOffsetSoundChannels), 2);
    EXPECT_EQ(LoadLE16(reader.Header() + kOffsetSoundBitsPerSample), 16);
    EXPECT_EQ(reader.HeaderWord(kOffsetSoundSampleRate), 22050u);
    EXPECT_EQ(reader.HeaderWord(kOffsetSoundSampleFrames), 5000u);
    _snxlib_::CSNXDecode sound;
    ASSERT_EQ(sound.Open(path, reader.SoundOffset(), reader.SoundLength()), 1);
    EXPECT_EQ(sound.GetSampleFrames(), 5000u);
    EXPECT_EQ(sound.GetBlockSize(), 512u);
}

TEST(EncodedMovie, SoundThatCouldNotBeCodedFailsTheMovie) {
    TempDir dir;
    CRVXEncode writer;
    SetUpWriter(writer, dir.path());
    ASSERT_TRUE(writer.AddFrame(SourcePicture(kSourceBGR24, 48, 32, 0).data()));
    EXPECT_FALSE(writer.StageSound(dir / "missing.wav", 0x103, 1024));
    ASSERT_TRUE(writer.FinishFrames());
    EXPECT_FALSE(writer.WriteMovie(dir / "movie.rvx", PosixFileWriteOps()));
    EXPECT_FALSE(fs::exists(dir / "movie.rvx"));
}

TEST(EncodedMovie, NothingToFinishWithoutFrames) {
    TempDir dir;
    CRVXEncode writer;
    EXPECT_FALSE(writer.FinishFrames());
    SetUpWriter(writer, dir.path());
    EXPECT_FALSE(writer.FinishFrames());
    EXPECT_FALSE(writer.AddFrame(nullptr));
    EXPECT_FALSE(writer.WriteMovie(dir / "movie.rvx", PosixFileWriteOps()));
}
