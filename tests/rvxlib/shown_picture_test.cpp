#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "rvxlib/decoder/shown_picture.h"
#include "rvxlib/dsp/codec_objects.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/format/codec_plan.h"

using namespace _rvxlib_;

// A picture made from 32-bit B, G, R, A rows shows as those rows again:
// exactly where the buffer keeps B, G, R, within the colour conversion's
// rounding where it keeps V, U, Y; with its alpha where the movie codes
// alpha, opaque elsewhere.
TEST(ShownPicture, ShowsTheRowsThePictureWasMadeFrom) {
    const uint32_t width = 21, height = 10;  // padded on both sides
    std::vector<uint8_t> source(width * 4 * height);
    for (size_t i = 0; i < source.size(); ++i) source[i] = uint8_t(i * 37 + (i >> 5));
    for (const RVXNamedValue& picture : kPictureFormatNames) {
        SCOPED_TRACE(picture.text);
        CodecPlan plan;
        ASSERT_TRUE(PlanCodec(CodecUse::kEncode, width, height,
                              (kSourceBGRA32 << kFormatSourceShift) | kTransformWordDct | picture.value, &plan));
        const auto colour = MakeColourConverter(plan);
        ASSERT_TRUE(colour && colour->Init(0) == 1);
        std::vector<uint8_t> buffer(size_t(plan.padded_width) * plan.padded_height * 4);
        ASSERT_EQ(colour->ConvertPicture(source.data(), buffer.data()), 1);

        CRVXShownPicture shown;
        ASSERT_TRUE(shown.Open(width, height, plan.format & kFormatStoredMask, 0));
        ASSERT_EQ(shown.Pitch(), width * 4);
        const uint8_t* rows = shown.Convert(buffer.data());
        ASSERT_NE(rows, nullptr);
        const bool alpha = FormatHasAlpha(picture.value);
        int worst = 0;
        for (size_t i = 0; i < source.size(); ++i) {
            if (i % 4 == 3) {
                ASSERT_EQ(rows[i], alpha ? source[i] : 255) << i;
            } else {
                worst = std::max(worst, std::abs(int(rows[i]) - int(source[i])));
            }
        }
        EXPECT_LE(worst, (picture.value & kFormatRGB) ? 0 : 4);
    }
}

TEST(ShownPicture, RefusesWhatNoFileStores) {
    CRVXShownPicture shown;
    const uint8_t picture[16 * 16 * 4] = {};
    EXPECT_EQ(shown.Convert(picture), nullptr);
    EXPECT_FALSE(shown.Open(16, 16, 0x2004, 0));                        // no such layout
    EXPECT_FALSE(shown.Open(16, 16, 0x2003 | kFormatIntDctEncode, 0));  // a steering bit
    EXPECT_FALSE(shown.Open(0, 16, 0x2003, 0));
    EXPECT_FALSE(shown.Open(16, kMaxPictureDimension + 1, 0x2003, 0));
    EXPECT_TRUE(shown.Open(16, 16, 0x2003, 0));
}
