#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "allocation_limit.h"
#include "common/temp_dir.h"
#include "support/graphic_loader.h"

// Every allocation of a PNG or BMP decode fails in turn: the load fails with
// "out of memory" and leaks nothing (the sanitizer build checks), or succeeds.
TEST(GraphicLoaderOutOfMemory, EachFailingAllocationIsAFailedLoadThatSaysSo) {
    TempDir dir("oom-images");
    ASSERT_EQ(std::system(("python3 " RVX_SOURCE_DIR "/tests/data/make_image_samples.py " + dir.path().string()).c_str()),
              0);
    for (const char* name : {"rgba.png", "grey8.png", "palette.png", "palette8.bmp", "v5_bitfields565.bmp"}) {
        SCOPED_TRACE(name);
        std::ifstream in(dir / name, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
        int failures = 0;
        for (long allowed = 0; allowed < 40; ++allowed) {
            CGraphicLoader loader;
            int32_t result;
            {
                allocation_limit::Armed armed(allowed);
                result = loader.Decode(file.data(), file.size());
            }
            if (result == 1) continue;
            ++failures;
            EXPECT_EQ(loader.FailureReason(), "out of memory");
            EXPECT_EQ(loader.Bitmap(), nullptr);
        }
        EXPECT_GT(failures, 0);
    }
}
