#include "rvxlib/dsp/pixel_block.h"

#include <gtest/gtest.h>

#include <vector>

using namespace _rvxlib_;

TEST(PixelBlock, LoadWidensAndStoreSaturates) {
    const uint32_t w = 48, h = 32;
    std::vector<uint8_t> picture(w * h * 4);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 7);
    CRVXPixelBlockUnSigned block(w, h);
    ASSERT_EQ(block.Init(0), 1);
    EXPECT_EQ(block.MacroblockColumns(), 3u);
    EXPECT_EQ(block.MacroblockRows(), 2u);
    block.SetSourcePicture(picture.data());
    ASSERT_EQ(block.LoadMacroblock(2, 1), 1);
    const int16_t* b = block.Buffer();
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c)
            for (int k = 0; k < 4; ++k)
                ASSERT_EQ(b[64 * r + 4 * c + k], picture[((16 + r) * w + 32 + c) * 4 + k]);

    int16_t* wb = block.Buffer();
    wb[0] = -5;
    wb[1] = 300;
    wb[2] = 255;
    wb[3] = 0;
    ASSERT_EQ(block.StoreMacroblock(2, 1), 1);
    const uint8_t* p = &picture[(16 * w + 32) * 4];
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 0);
}

TEST(PixelBlock, PositionsOutsideThePictureAreRefusedAndChangeNothing) {
    std::vector<uint8_t> picture(32 * 16 * 4, 9);
    CRVXPixelBlockUnSigned block(32, 16);
    block.Init(0);
    EXPECT_EQ(block.LoadMacroblock(0, 0), 0);  // no picture yet
    block.SetSourcePicture(picture.data());
    ASSERT_EQ(block.LoadMacroblock(0, 0), 1);
    block.Buffer()[0] = 77;
    EXPECT_EQ(block.LoadMacroblock(2, 0), 0);
    EXPECT_EQ(block.LoadMacroblock(0, 1), 0);
    EXPECT_EQ(block.StoreMacroblock(2, 0), 0);
    EXPECT_EQ(block.StoreMacroblock(0xFFFFFFFFu, 0), 0);
    EXPECT_EQ(block.Buffer()[0], 77);
    for (uint8_t v : picture) ASSERT_EQ(v, 9);
}
