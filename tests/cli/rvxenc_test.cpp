#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "cli/run_program.h"
#include "common/temp_dir.h"
#include "container/rvx_encode.h"
#include "container/rvx_reader.h"
#include "jobs/work_directory.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kMakeSample = std::string(RVX_SOURCE_DIR) + "/scripts/make-sample";
using Result = ProgramResult;

void MakeSample(const TempDir& dir, const std::string& extra) {
    const std::string cmd = "python3 " + kMakeSample + " --out " + dir.path().string() + " " + extra + " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// Until the video codec can code a frame, the encodes below cannot finish.
bool CodecCanCodeFrames() {
    TempDir dir("probe");
    CRVXEncode writer;
    writer.SetFrameRate(30, 1);
    writer.SetPicture(16, 16, 0x20002003);
    writer.SetWorkDirectory(dir.path() / "");
    writer.SetFramePrefix(dir.path() / "rvxframe");
    if (!writer.Open()) return false;
    std::vector<uint8_t> picture(16 * 16 * 4, 128);
    return writer.AddFrame(picture.data()) && writer.FinishFrames();
}

std::set<std::string> WorkDirectories() {
    std::set<std::string> dirs;
    for (auto& e : fs::directory_iterator(TemporaryFilesDirectory())) {
        const std::string name = e.path().filename().string();
        if (name.size() == 11 && name.rfind("rvx", 0) == 0) dirs.insert(name);
    }
    return dirs;
}

}  // namespace

TEST(Rvxenc, RefusesBadCommandLines) {
    TempDir dir("cli");
    EXPECT_EQ(RunRvxenc("").exit_code, 2);
    EXPECT_EQ(RunRvxenc("a0001.png").exit_code, 2);  // no output
    EXPECT_EQ(RunRvxenc("a0001.png -o x.rvx --fps 7").exit_code, 2);
    EXPECT_EQ(RunRvxenc("a0001.png -o x.rvx --quality 1,2").exit_code, 2);
    EXPECT_EQ(RunRvxenc("a0001.png -o x.rvx --matrix jpeg").exit_code, 2);
    EXPECT_EQ(RunRvxenc("a0001.png -o x.rvx --bogus").exit_code, 2);
    EXPECT_EQ(RunRvxenc("--info a.avi a0001.png").exit_code, 2);
    EXPECT_EQ(RunRvxenc("a0001.png b0001.png -o one.rvx").exit_code, 2);  // a batch needs a folder
    // A sound file that is not there is a mistake a script must see.
    EXPECT_EQ(RunRvxenc("a0001.png --wav " + (dir / "missing.wav") + " -o " + (dir / "x.rvx")).exit_code, 2);
}

TEST(Rvxenc, ReportsTheSystemsMessages) {
    TempDir dir("msg");
    Result r = RunRvxenc(dir / "missing0001.png -o " + (dir / "out.rvx"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("ファイルのロードに失敗しました。"), std::string::npos) << r.output;

    r = RunRvxenc(dir / "missing.avi -o " + (dir / "out.rvx"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("ファイルのロードに失敗しました。"), std::string::npos) << r.output;

    r = RunRvxenc(dir / "a0001.png -o ''");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("ファイル名が入力されていません。"), std::string::npos) << r.output;

    r = RunRvxenc(dir / "a0001.png -o " + (dir / "no/such/folder/out.rvx"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("指定したファイル名で作成できません、"), std::string::npos) << r.output;
}

TEST(Rvxenc, LeavesAnExistingOutputAloneWithoutOverwrite) {
    TempDir dir("exist");
    MakeSample(dir, "--frames 2 --size 16x16 --no-sound");
    std::ofstream(dir / "out.rvx") << "precious";
    const Result r = RunRvxenc(dir / "frame0001.png -o " + (dir / "out.rvx"));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.output.find("はすでに存在します。"), std::string::npos) << r.output;
    std::ifstream in(dir / "out.rvx");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "precious");
}

TEST(Rvxenc, EncodesAnImageRunWithSoundIntoAnIntactMovie) {
    if (!CodecCanCodeFrames()) GTEST_SKIP() << "the video codec cannot code frames in this build yet";
    TempDir dir("e2e");
    MakeSample(dir, "--frames 20 --size 64x48");
    const Result r = RunRvxenc(dir / "frame0003.png --wav " + (dir / "sound.wav") + " -o " + (dir / "out.rvx") +
                         " --fps 59.94 --picture-format YUV444 --matrix mpeg --quality 4,6,8 --quiet");
    ASSERT_EQ(r.exit_code, 0) << r.output;
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "out.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 18u);  // frame0003..frame0020
    EXPECT_EQ(reader.Width(), 64u);
    EXPECT_EQ(reader.RateNumerator(), 60000u);
    EXPECT_EQ(reader.RateDenominator(), 1001u);
    EXPECT_EQ(reader.FormatFlags() & 0xFF, 0x01u);
    EXPECT_TRUE(reader.HasSound());
}

TEST(Rvxenc, InterruptLeavesNoOutputAndNoWorkDirectory) {
    if (!CodecCanCodeFrames()) GTEST_SKIP() << "the video codec cannot code frames in this build yet";
    TempDir dir("int");
    MakeSample(dir, "--frames 100 --size 320x240 --no-sound");
    const auto before = WorkDirectories();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string source = dir / "frame0001.png", out = dir / "out.rvx";
        ::execl(kRvxenc.c_str(), "rvxenc", source.c_str(), "-o", out.c_str(), "--quiet", (char*)nullptr);
        _exit(127);
    }
    // Interrupt a little after the work directory appears: mid-run, while
    // groups are being coded on their threads.
    for (int i = 0; i < 3000 && WorkDirectories() == before; ++i) std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(30ms);
    ::kill(pid, SIGINT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_FALSE(fs::exists(dir / "out.rvx"));
    EXPECT_EQ(WorkDirectories(), before);
}

TEST(Rvxenc, ParallelEncodesOfAGreyRunGiveIdenticalMovies) {
    if (!CodecCanCodeFrames()) GTEST_SKIP() << "the video codec cannot code frames in this build yet";
    TempDir dir("par");
    MakeSample(dir, "--frames 10 --size 48x32 --grey");
    const auto before = WorkDirectories();
    Result a, b;
    std::thread first([&] { a = RunRvxenc(dir / "frame0001.png -o " + (dir / "a.rvx") + " --picture-format ARGB8888"); });
    std::thread second([&] { b = RunRvxenc(dir / "frame0001.png -o " + (dir / "b.rvx") + " --picture-format ARGB8888"); });
    first.join();
    second.join();
    ASSERT_EQ(a.exit_code, 0) << a.output;
    ASSERT_EQ(b.exit_code, 0) << b.output;
    std::ifstream fa(dir / "a.rvx", std::ios::binary), fb(dir / "b.rvx", std::ios::binary);
    const std::string bytes_a((std::istreambuf_iterator<char>(fa)), {}), bytes_b((std::istreambuf_iterator<char>(fb)), {});
    EXPECT_FALSE(bytes_a.empty());
    EXPECT_EQ(bytes_a, bytes_b);
    CRVXReader reader;
    ASSERT_TRUE(reader.Open(dir.path() / "a.rvx"));
    EXPECT_TRUE(reader.Verify());
    EXPECT_EQ(reader.FrameCount(), 10u);
    EXPECT_EQ(reader.FormatFlags() & 0xFF, 0x50u);  // grey runs keep their level as alpha
    EXPECT_EQ(WorkDirectories(), before);
}

// Memory running out under a capped address space, at the picture's load
// (400 MB) or in the encoder (900 MB): a failure that says so, no movie, no
// work directory left.
TEST(Rvxenc, OutOfMemoryEndsTheRunAsAFailureAndCleansUp) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#endif
    TempDir dir("cli-oom");
    const std::string pattern = dir / "big%04d.png";
    ASSERT_EQ(std::system(("ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i color=c=0x3070a0:s=8000x8000 "
                           "-frames:v 2 -start_number 1 '" + pattern + "'").c_str()),
              0);
    const fs::path work = dir.path() / "tmp";
    fs::create_directories(work);
    for (int kilobytes : {400000, 900000}) {
        SCOPED_TRACE(kilobytes);
        const Result r = RunCommand("ulimit -v " + std::to_string(kilobytes) + "; TMPDIR='" + work.string() + "/' " +
                                  kRvxenc + " '" + (dir / "big0001.png") + "' -o '" + (dir / "out.rvx") + "' --quiet");
        EXPECT_EQ(r.exit_code, 1) << r.output;
        EXPECT_NE(r.output.find("out of memory"), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(dir / "out.rvx"));
        EXPECT_TRUE(fs::is_empty(work)) << "a work directory was left behind";
    }
}
