#include <gtest/gtest.h>

#include <string>

#include "rvxlib/format/codec_plan.h"

using namespace _rvxlib_;

namespace {

constexpr uint32_t kFromBGR24 = kSourceBGR24 << kFormatSourceShift;

}  // namespace

TEST(CodecPlan, ChoosesTheDctImplementationFromTheSteeringBits) {
    CodecPlan plan;
    const uint32_t format = kFromBGR24 | kTransformWordDct | kPictureYUV411;
    ASSERT_TRUE(PlanCodec(CodecUse::kEncode, 16, 16, format, &plan));
    EXPECT_EQ(plan.transform, TransformKind::kDctFloat);
    ASSERT_TRUE(PlanCodec(CodecUse::kEncode, 16, 16, format | kFormatIntDctEncode, &plan));
    EXPECT_EQ(plan.transform, TransformKind::kDctIntAAN);
    ASSERT_TRUE(PlanCodec(CodecUse::kDecode, 16, 16, format, &plan));
    EXPECT_EQ(plan.transform, TransformKind::kDctIntAANInverse);
    ASSERT_TRUE(PlanCodec(CodecUse::kDecode, 16, 16, format | kFormatFloatDctDecode, &plan));
    EXPECT_EQ(plan.transform, TransformKind::kDctFloat);
    // Zero layout and transform bits mean "YUV411" and DCT.
    ASSERT_TRUE(PlanCodec(CodecUse::kEncode, 16, 16, kFromBGR24, &plan));
    EXPECT_EQ(plan.format & 0xF0FF, 0x2003u);
}

TEST(CodecPlan, RefusesUnknownLayoutsUndefinedBitsAndAbsurdSizes) {
    CodecPlan plan;
    // Layouts no block converter handles, and an unknown source layout.
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x10002004, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x10002020, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x40002003, &plan));
    // Bits without a meaning, which would otherwise reach the file.
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x30002083, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x10002103, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 16, 16, 0x10042003, &plan));
    // One size limit on every side.
    const uint32_t format = kFromBGR24 | kTransformWordDct | kPictureYUV411;
    EXPECT_TRUE(PlanCodec(CodecUse::kEncode, kMaxPictureDimension, 1, format, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, kMaxPictureDimension + 1, 1, format, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 1, kMaxPictureDimension + 1, format, &plan));
    EXPECT_FALSE(PlanCodec(CodecUse::kEncode, 0, 16, format, &plan));
}

// A reader sees only the stored bits: it must accept exactly what the writer
// stores and keep the alpha channel the file codes.
TEST(CodecPlan, StoredFormatPlansWhatTheWriterStored) {
    for (uint32_t picture : {kPictureYUV411, kPictureYUV422, kPictureYUV444, kPictureRGB888, kPictureARGB8888,
                             kPictureAYUV4444, kPictureAYUV4422, kPictureAYUV4411}) {
        for (uint32_t transform : {kTransformWordDct, kTransformWordDiff2D, kTransformWordDctNoDeblock}) {
            CodecPlan written, read;
            ASSERT_TRUE(PlanCodec(CodecUse::kEncode, 20, 20,
                                  (kSourceBGRA32 << kFormatSourceShift) | transform | picture, &written));
            ASSERT_TRUE(PlanStoredFormat(20, 20, written.format & kFormatStoredMask, true, &read));
            EXPECT_EQ(read.block, written.block);
            EXPECT_EQ(read.alpha, written.alpha);
            EXPECT_EQ(read.deblock, written.deblock);
            EXPECT_EQ(read.transform, written.transform);
            EXPECT_EQ(read.padded_width, 32u);
        }
    }
    CodecPlan plan;
    EXPECT_FALSE(PlanStoredFormat(16, 16, 0x2003 | kFormatIntDctEncode, true, &plan));
    EXPECT_FALSE(PlanStoredFormat(16, 16, 0x2083, true, &plan));
    ASSERT_TRUE(PlanStoredFormat(16, 16, 0x2003, false, &plan));
    EXPECT_EQ(plan.transform, TransformKind::kDctIntAANInverse);
}

// Every picture format and transform the settings offer is one the codec can
// code and a reader can show, and a stored format word names its choices
// back, whatever else the word holds.
TEST(FormatNames, EveryOfferedChoiceCodesAndIsNamedBack) {
    CodecPlan plan;
    for (const RVXNamedValue& picture : kPictureFormatNames) {
        for (const RVXNamedValue& transform : kTransformNames) {
            const uint32_t stored = picture.value | transform.value;
            SCOPED_TRACE(std::string(picture.text) + " " + transform.text);
            EXPECT_TRUE(PlanCodec(CodecUse::kEncode, 40, 24, kFromBGR24 | stored, &plan));
            EXPECT_TRUE(PlanStoredFormat(40, 24, stored, true, &plan));
            EXPECT_STREQ(PictureFormatText(stored), picture.text);
            EXPECT_STREQ(TransformText(stored), transform.text);
        }
    }
    const struct {
        uint32_t format;
        const char* picture;
        const char* transform;
    } words[] = {
        {kFromBGR24 | 0x12043, "AYUV4411", "DCT(NoDEF)"},
        {0x11010, "RGB888", "Diff2D"},  // no deblocking is no choice of its own for Diff2D
        {0x3004, nullptr, nullptr},
        {0x0000, nullptr, nullptr},
    };
    for (const auto& w : words) {
        const char* picture = PictureFormatText(w.format);
        const char* transform = TransformText(w.format);
        EXPECT_STREQ(picture ? picture : "-", w.picture ? w.picture : "-") << std::hex << w.format;
        EXPECT_STREQ(transform ? transform : "-", w.transform ? w.transform : "-") << std::hex << w.format;
    }
}
