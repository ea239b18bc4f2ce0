// rvxenc's flags become the settings the window's controls would give, and
// its terminal reports the job's progress from the values themselves.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <algorithm>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/rvxenc_arguments.h"
#include "cli/terminal_host.h"
#include "common/temp_dir.h"

namespace {

// ParseArguments on a command line split at blanks.
std::string Parse(const std::string& line, Arguments& args) {
    std::vector<std::string> words{"rvxenc"};
    std::istringstream in(line);
    for (std::string word; in >> word;) words.push_back(word);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    return ParseArguments(static_cast<int>(argv.size()), argv.data(), args);
}

}  // namespace

TEST(RvxencArguments, FlagsGiveTheSettingsOfTheWindowsControls) {
    struct Case {
        const char* flags;
        std::function<void(EncodeSettings&)> expect;  // applied to the start-up settings
    } cases[] = {
        {"", [](EncodeSettings&) {}},
        {"--picture-format ayuv4422 --transform DCT-NoDEF",
         [](EncodeSettings& s) {
             s.picture_format = 0x42;
             s.transform = 0x12000;
         }},
        {"--fps 29.97", [](EncodeSettings& s) { s.frame_rate = {30000, 1001}; }},
        {"--fps=60 --fps default", [](EncodeSettings&) {}},
        {"--fps 7/3", [](EncodeSettings& s) { s.frame_rate = {7, 3}; }},
        {"--fps 99999999999/1", [](EncodeSettings& s) { s.frame_rate = {0, 1}; }},  // beyond 32 bits: 0
        {"--p-frames 70000 --b-frames 0 --scene-change 65535",
         [](EncodeSettings& s) {
             s.p_frames = 70000 & 0xFFFF;
             s.b_frames = 0;
             s.scene_change = 0xFFFF;
         }},
        {"--quality 3,5,65537 --matrix mpeg",
         [](EncodeSettings& s) {
             s.quality_i = 3;
             s.quality_p = 5;
             s.quality_b = 1;
             s.matrix = 1;
         }},
        // One level: classic keeps the defaults' spacing wherever the flags stand;
        // the other presets balance P and B for the matrices, also at the
        // default level.
        {"--quality 31 --preset classic",
         [](EncodeSettings& s) {
             s.quality_i = 31;
             s.quality_p = 32;
             s.quality_b = 32;
         }},
        {"--quality 5 --matrix flat --preset SLOW --aq",
         [](EncodeSettings& s) {
             s.matrix = 4;
             s.preset = RVXPreset::kSlow;
             s.adaptive_quantisation = true;
             s.quality_i = 5;
             s.quality_p = 6;
             s.quality_b = 7;
         }},
        {"--preset fast --matrix cg",
         [](EncodeSettings& s) {
             s.preset = RVXPreset::kFast;
             s.matrix = 2;
             s.quality_p = 10;
             s.quality_b = 11;
         }},
        {"--preset medium --quality 3,3,3", [](EncodeSettings& s) {
             s.preset = RVXPreset::kMedium;
             s.quality_i = 3;
             s.quality_p = 3;
             s.quality_b = 3;
         }},
        {"--sound raw --block-size 5000000",
         [](EncodeSettings& s) {
             s.sound_method = 0;
             s.audio_block_size = 5000000;
         }},
        {"--start 1:02.5 --duration 120f --audio-track 2",
         [](EncodeSettings& s) {
             s.source.start = {SourceTime::Unit::kMicroseconds, 62500000};
             s.source.duration = {SourceTime::Unit::kFrames, 120};
             s.source.audio_track = 2;
         }},
        {"--start=0 --rotate auto --deinterlace auto --crop none", [](EncodeSettings&) {}},
        {"--rotate 270 --deinterlace OFF --crop 8,4,8,4 --scale 16x",
         [](EncodeSettings& s) {
             s.source.extra_rotation = 270;
             s.source.deinterlace = Deinterlace::kOff;
             s.source.crop = CropMode::kEdges;
             s.source.crop_edges = {8, 4, 8, 4};
             s.source.scale_width = 16;
         }},
        {"--crop auto --scale=x16384 --deinterlace on",
         [](EncodeSettings& s) {
             s.source.crop = CropMode::kAuto;
             s.source.scale_height = 16384;
             s.source.deinterlace = Deinterlace::kOn;
         }},
    };
    for (const Case& c : cases) {
        Arguments args;
        EXPECT_EQ(Parse(std::string("a0001.png -o out.rvx ") + c.flags, args), "") << c.flags;
        EncodeSettings want;
        c.expect(want);
        EXPECT_TRUE(args.settings == want) << c.flags;
    }
}

// Errors come back as text (the program prints them with the usage); --help
// and --version end the reading where they stand.
TEST(RvxencArguments, ErrorsAreReturnedAndHelpStopsTheReading) {
    const std::pair<const char*, const char*> errors[] = {
        {"a.png", "no output given (-o OUT.rvx)"},
        {"-o x.rvx", "no SOURCE given"},
        {"a.png -o x.rvx --p-frames -3", "--p-frames: '-3' is not a number"},
        {"a.png -o x.rvx --p-frames 1e3", "--p-frames: '1e3' is not a number"},
        {"a.png -o x.rvx --fps 12", "--fps: unknown rate '12' (a preset or N/D)"},
        {"a.png -o x.rvx --quality 1,,3", "--quality: '1,,3' is not I,P,B or N"},
        {"a.png -o x.rvx --quality 0", "--quality: '0' is not a level from 2 to 32"},
        {"a.png -o x.rvx --preset best", "--preset: unknown preset 'best' (classic, fast, medium or slow)"},
        {"a.png -o x.rvx --overwrite=yes", "--overwrite takes no value"},
        {"a.png -o x.rvx --matrix", "--matrix needs a value"},
        {"--bogus --help", "unknown option '--bogus'"},
        {"--info a.avi b.avi", "--info takes no SOURCE"},
        {"a.png -o x.rvx --scale 0x10", "--scale: '0x10' is not WxH, Wx or xH with sides from 1 to 16384"},
        {"a.png -o x.rvx --duration 0", "--duration: '0' is not a time above zero (12.5, 1:02:03.5) or a count "
                                        "of frames (120f)"},
        {"a.png -o x.rvx --start=", "--start: '' is not a time (12.5, 1:02:03.5) or a count of frames (120f)"},
        {"a.png -o x.rvx --rotate 45", "--rotate: '45' is not auto, 0, 90, 180 or 270"},
        {"a.png -o x.rvx --audio-track 0", "--audio-track: '0' is not a track number from 1"},
        {"a.png -o x.rvx --audio-track", "--audio-track needs a track number from 1"},
    };
    for (const auto& [line, error] : errors) {
        Arguments args;
        EXPECT_EQ(Parse(line, args), error) << line;
    }
    for (const char* line : {"--help --bogus", "a.png -h", "--help=x", "--version --fps 12"}) {
        Arguments args;
        EXPECT_EQ(Parse(line, args), "") << line;
        EXPECT_TRUE(args.help || args.version) << line;
    }
}

// The JSON lines take the stage and the counts from the report itself, so a
// count of ten digits is still a frame count.
TEST(TerminalHost, JsonLinesCarryTheReportsFields) {
    TempDir dir("terminal");
    const std::string log = dir / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_NE(std::freopen(log.c_str(), "w", stderr), nullptr);
    {
        TerminalHost host;
        host.SetProgressStyle(ProgressStyle::kJson);
        host.BeginJob("src.mkv");
        host.SendProgress({JobStage::kFrames, 3, 4000000000u, "src.mkv"});
        host.SendProgress({JobStage::kSound, 0, 0, "/w/tmpsnd.wav"});
        host.SendProgress({JobStage::kWriting, 0, 0, "out.rvx"});
    }
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    const char* expected[][3] = {
        {R"("stage": "frames", "frame": 3, "total": 4000000000, "percent": 0.00)",
         R"("text": "src.mkvをエンコード中... 3/4000000000")", ""},
        {R"("stage": "sound", "frame": 0, "total": 0, "percent": 100.00)",
         R"("text": "/w/tmpsnd.wavをエンコード中...")", R"("remaining": 0.000)"},
        {R"("stage": "writing", "frame": 0, "total": 0, "percent": 100.00)", R"("text": "out.rvxを出力中...")",
         R"("remaining": 0.000)"},
    };
    for (size_t i = 0; i < lines.size(); ++i)
        for (const char* part : expected[i]) EXPECT_NE(lines[i].find(part), std::string::npos) << lines[i];
}

// Every flag --help names is one the program reads, and the manual page and
// the shell completion know it too.
TEST(RvxencArguments, HelpManualAndCompletionNameEveryFlag) {
    auto read_file = [](const std::string& path) {
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // The manual page writes "\-\-flag" and changes fonts with "\fB".
        std::string plain;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\\') plain += text[i];
            else if (i + 1 < text.size() && text[i + 1] == 'f') i += 2;
        }
        return plain;
    };
    const std::string manual = read_file(std::string(RVX_SOURCE_DIR) + "/data/rvxenc.1");
    const std::string completion = read_file(std::string(RVX_SOURCE_DIR) + "/data/bash-completion/rvxenc");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(completion.empty());
    const std::string usage = UsageText();
    std::vector<std::string> flags;
    for (size_t at = usage.find("--"); at != std::string::npos; at = usage.find("--", at + 2)) {
        size_t end = at + 2;
        while (end < usage.size() && ((usage[end] >= 'a' && usage[end] <= 'z') || usage[end] == '-')) ++end;
        flags.push_back(usage.substr(at, end - at));
        at = end;
    }
    for (const char* flag : {"--start", "--duration", "--audio-track", "--deinterlace", "--rotate", "--crop", "--scale"})
        EXPECT_NE(std::find(flags.begin(), flags.end(), flag), flags.end()) << flag;
    // The flag as a whole word: "--quiet" is not named by "--quietly".
    auto names = [](const std::string& text, const std::string& flag) {
        for (size_t at = text.find(flag); at != std::string::npos; at = text.find(flag, at + 1)) {
            const char next = at + flag.size() < text.size() ? text[at + flag.size()] : ' ';
            if (!((next >= 'a' && next <= 'z') || next == '-')) return true;
        }
        return false;
    };
    for (const std::string& flag : flags) {
        EXPECT_TRUE(names(manual, flag)) << flag << " is not in the manual page";
        EXPECT_TRUE(names(completion, flag)) << flag << " is not in the completion";
        Arguments args;
        EXPECT_EQ(Parse("a.png -o x.rvx " + flag, args).find("unknown option"), std::string::npos) << flag;
    }
}
