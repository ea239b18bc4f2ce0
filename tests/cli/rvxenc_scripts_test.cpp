// rvxenc and rvxdec as scripts and desktops use them: JSON progress, batches,
// thumbnails and what `cmake --install` puts in place.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "support/graphic_loader.h"
#include "support/pixel_format.h"

namespace fs = std::filesystem;

namespace {

const std::string kMakeSample = std::string(RVX_SOURCE_DIR) + "/scripts/make-sample";

void MakeRun(const TempDir& dir, const std::string& name, const std::string& extra) {
    fs::create_directories(dir.path() / name);
    ASSERT_EQ(RunCommand("python3 " + kMakeSample + " --out " + (dir / name) + " --no-sound " + extra).exit_code, 0);
}

// B, G, R, A pixels of an image file, through our own loader.
std::vector<uint8_t> LoadPixels(const std::string& path, int32_t* width, int32_t* height) {
    CGraphicLoader loader;
    if (loader.LoadFile(path) != 1 || loader.GetSize(width, height) != 1) return {};
    std::vector<uint8_t> pixels(size_t(*width) * *height * 4);
    SurfaceDesc surface;
    surface.format = PF_A8R8G8B8;
    surface.bits = pixels.data();
    surface.pitch = *width * 4;
    surface.width = *width;
    surface.height = *height;
    return loader.CopyTo(&surface) == 1 ? pixels : std::vector<uint8_t>{};
}

}  // namespace

// Every line parses as JSON, percent never falls, and the last object names
// the file that was written with its true size.
TEST(RvxencScripts, JsonProgressDescribesTheEncodeLineByLine) {
    TempDir dir("json");
    MakeRun(dir, "run", "--frames 12 --size 32x32");
    const std::string log = dir / "progress.jsonl";
    ASSERT_EQ(RunCommand("{ " + kRvxenc + " " + (dir / "run/frame0001.png") + " -o " + (dir / "out.rvx") +
                         " --progress json 2>" + log + "; }").exit_code, 0);
    const std::string check =
        "import json,sys,os\n"
        "objs=[json.loads(l) for l in open(sys.argv[1]) if l.strip()]\n"
        "p=[o['percent'] for o in objs if o['stage']!='end']\n"
        "assert p==sorted(p), p\n"
        "assert max(o.get('frame',0) for o in objs)==12\n"
        "assert all(set(o)>={'source','stage','frame','total','percent','fps','elapsed','remaining'} for o in objs[:-1])\n"
        "e=objs[-1]\n"
        "assert e['stage']=='end' and e['result']=='ok' and e['reason']=='', e\n"
        "assert e['size']==os.path.getsize(e['output'])>0, e\n"
        "print('ok')\n";
    std::ofstream(dir / "check.py") << check;
    const ProgramResult r = RunCommand("python3 " + (dir / "check.py") + " " + log);
    EXPECT_EQ(r.output, "ok\n") << r.output;
}

// A broken source in the middle of a batch fails alone; the others are
// written under their own names, the summary lists all three, and the exit
// status tells a script that something failed.
TEST(RvxencScripts, BatchGoesOnAfterABrokenSource) {
    TempDir dir("batch");
    MakeRun(dir, "first", "--frames 3 --size 16x16");
    MakeRun(dir, "third", "--frames 4 --size 16x16");
    std::ofstream(dir / "broken0001.png") << "not a picture";
    const ProgramResult r = RunRvxenc((dir / "first/frame0001.png") + " " + (dir / "broken0001.png") + " " +
                                      (dir / "third/frame0001.png") + " -o " + (dir / "out/") + " --progress none");
    EXPECT_EQ(r.exit_code, 1) << r.output;
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(dir.path() / "out")) written.insert(entry.path().filename());
    // Both runs are named "frame"; the second must not replace the first.
    EXPECT_EQ(written, (std::set<std::string>{"frame.rvx", "frame-2.rvx"}));
    EXPECT_NE(r.output.find("broken0001.png"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("failed"), std::string::npos) << r.output;
}

// The thumbnail is the first picture, shrunk to fit the size with its shape
// kept; a lossless movie makes it the box mean of the source picture.
TEST(RvxencScripts, ThumbnailIsTheFirstPictureScaledToFit) {
    TempDir dir("thumb");
    MakeRun(dir, "run", "--frames 3 --size 64x32");
    ASSERT_EQ(RunRvxenc((dir / "run/frame0001.png") + " -o " + (dir / "m.rvx") +
                        " --transform Diff2D --picture-format RGB888 --quiet").exit_code, 0);
    ASSERT_EQ(RunCommand(kRvxdecProgram + " --thumbnail " + (dir / "m.rvx") + " " + (dir / "t.png") + " 16").exit_code,
              0);
    int32_t w = 0, h = 0, sw = 0, sh = 0;
    const std::vector<uint8_t> thumb = LoadPixels(dir / "t.png", &w, &h);
    const std::vector<uint8_t> source = LoadPixels(dir / "run/frame0001.png", &sw, &sh);
    ASSERT_EQ(w, 16);
    ASSERT_EQ(h, 8);
    ASSERT_EQ(sw, 64);
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 4; ++dy)
                    for (int dx = 0; dx < 4; ++dx) sum += source[((4 * y + dy) * sw + 4 * x + dx) * 4 + c];
                worst = std::max(worst, std::abs((sum + 8) / 16 - thumb[(y * w + x) * 4 + c]));
            }
    EXPECT_LE(worst, 1);

    // Larger than the picture: kept as it is. Not a movie: no file, exit 1.
    ASSERT_EQ(RunCommand(kRvxdecProgram + " --thumbnail " + (dir / "m.rvx") + " " + (dir / "big.png")).exit_code, 0);
    LoadPixels(dir / "big.png", &w, &h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(RunCommand(kRvxdecProgram + " --thumbnail " + (dir / "run/frame0002.png") + " " + (dir / "x.png"))
                  .exit_code, 1);
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

TEST(RvxencScripts, InstallPutsProgramsAndDesktopFilesInPlace) {
    TempDir dir("install");
    const ProgramResult r =
        RunCommand("cmake --install " + std::string(RVX_BINARY_DIR) + " --prefix " + dir.path().string());
    ASSERT_EQ(r.exit_code, 0) << r.output;
    for (const char* file : {"bin/rvxenc", "bin/rvxdec", "share/applications/rvx-encoder.desktop",
                             "share/icons/hicolor/scalable/apps/rvx-encoder.svg", "share/mime/packages/rvx-encoder.xml",
                             "share/thumbnailers/rvx-encoder.thumbnailer", "share/man/man1/rvxenc.1",
                             "share/man/man1/rvxdec.1", "share/bash-completion/completions/rvxenc"})
        EXPECT_TRUE(fs::exists(dir.path() / file)) << file;
    EXPECT_EQ(RunCommand((dir / "bin/rvxenc") + " --version").output.rfind("rvxenc ", 0), 0u);
    if (fs::exists(std::string(RVX_BINARY_DIR) + "/app/rvx-encoder")) {
        EXPECT_TRUE(fs::exists(dir.path() / "bin/rvx-encoder"));
        EXPECT_EQ(RunCommand((dir / "bin/rvx-encoder") + " --version").output.rfind("rvx-encoder ", 0), 0u);
    }
}
