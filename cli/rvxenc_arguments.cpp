#include "cli/rvxenc_arguments.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/output_check.h"
#include "jobs/control_ids.h"
#include "jobs/option_tables.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: rvxenc SOURCE -o OUT.rvx [options]\n"
    "       rvxenc SOURCE... -o DIR/ [options]    (a batch: each SOURCE becomes DIR/NAME.rvx)\n"
    "       rvxenc --info FILE | --version\n"
    "  SOURCE                one file of a numbered BMP/PNG run (a0001.png ...), an AVI file or any movie\n"
    "  -o, --output FILE     the movie to write\n"
    "  --source KIND         images, avi or movie (default: from SOURCE's extension)\n"
    "  --wav FILE            WAVE file for the sound of an image run\n"
    "  --picture-format F    YUV411 YUV422 YUV444 RGB888 ARGB8888 AYUV4444 AYUV4422 AYUV4411\n"
    "  --transform T         DCT, Diff2D, DCT(NoDEF) (or DCT-NoDEF)\n"
    "  --fps R               default, 60, 59.94, 50, 30, 29.97, 25, 24, 23.976, 15, or N/D\n"
    "  --p-frames N          P frames per group of pictures (default 5)\n"
    "  --b-frames N          B frames between reference frames (default 2)\n"
    "  --scene-change N      scene-change threshold (default 192)\n"
    "  --matrix M            CG動画 (cg) or MPEG標準 (mpeg)\n"
    "  --quality I,P,B       frame qualities (default 4,6,8)\n"
    "  --sound S             MDCT-Low, MDCT-Mid, MDCT-High or RawFile\n"
    "  --block-size N        audio block size (default 1024)\n"
    "  --overwrite           replace an existing output file\n"
    "  --quiet               no progress\n"
    "  --progress STYLE      bar (on a terminal), json (one object per line on stderr) or none\n"
    "  --info FILE           print a movie's picture and sound lines, encode nothing\n";

// The row of a list given its window text or an ASCII alias, -1 when neither.
int32_t MatchRow(const OptionRow* table, const std::string& value,
                 const std::vector<std::pair<const char*, const char*>>& aliases = {}) {
    if (int32_t row = FindOptionRow(table, value.c_str()); row >= 0) return row;
    const std::string lower = Lower(value);
    for (uint32_t i = 0; i < OptionRowCount(table); ++i)
        if (Lower(table[i].text) == lower) return static_cast<int32_t>(i);
    for (const auto& [alias, text] : aliases)
        if (lower == alias) return FindOptionRow(table, text);
    return -1;
}

}  // namespace

int UsageError(const std::string& message) {
    std::fprintf(stderr, "rvxenc: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

std::string ParseArguments(int argc, char** argv, Arguments& args, TerminalHost& host) {
    std::vector<std::string> list(argv + 1, argv + argc);
    for (size_t i = 0; i < list.size(); ++i) {
        std::string flag = list[i];
        std::string value;
        bool has_inline = false;
        if (flag.rfind("--", 0) == 0) {
            if (size_t eq = flag.find('='); eq != std::string::npos) {
                value = flag.substr(eq + 1);
                flag = flag.substr(0, eq);
                has_inline = true;
            }
        }
        auto next = [&]() -> bool {
            if (has_inline) return true;
            if (i + 1 >= list.size()) return false;
            value = list[++i];
            return true;
        };
        auto number_field = [&](uint32_t id) -> std::string {
            if (!next()) return flag + " needs a number";
            if (!IsDigits(value)) return flag + ": '" + value + "' is not a number";
            host.SetText(id, value);
            return "";
        };
        auto list_field = [&](uint32_t id, const OptionRow* table,
                              const std::vector<std::pair<const char*, const char*>>& aliases) -> std::string {
            if (!next()) return flag + " needs a value";
            const int32_t row = MatchRow(table, value, aliases);
            if (row < 0) return flag + ": unknown value '" + value + "'";
            host.Select(id, row);
            return "";
        };

        std::string error;
        if (flag == "-h" || flag == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(kExitOk);
        } else if (flag == "-o" || flag == "--output") {
            if (!next()) return flag + " needs a file name";
            args.output = value;
            args.output_given = true;
        } else if (flag == "--source") {
            if (!next()) return "--source needs images, avi or movie";
            args.source_kind = Lower(value);
            if (args.source_kind != "images" && args.source_kind != "avi" && args.source_kind != "movie")
                return "--source: unknown kind '" + value + "'";
        } else if (flag == "--wav") {
            if (!next()) return "--wav needs a file name";
            std::error_code ec;
            if (!fs::exists(value, ec)) return "--wav: " + value + " does not exist";
            host.SetText(kIdWavePath, value);
        } else if (flag == "--picture-format") {
            error = list_field(kIdPictureFormat, PictureFormatTable, {});
        } else if (flag == "--transform") {
            error = list_field(kIdTransform, TransformTable, {{"dct-nodef", "DCT(NoDEF)"}, {"nodef", "DCT(NoDEF)"}});
        } else if (flag == "--fps") {
            if (!next()) return "--fps needs a rate";
            const size_t slash = value.find('/');
            if (slash != std::string::npos) {
                const std::string n = value.substr(0, slash), d = value.substr(slash + 1);
                if (!IsDigits(n) || !IsDigits(d)) return "--fps: '" + value + "' is not N/D";
                host.Select(kIdFrameRate, kManualFrameRateRow);
                host.SetText(kIdFrameRateNumerator, n);
                host.SetText(kIdFrameRateDenominator, d);
            } else {
                int32_t row = MatchRow(FrameRateTable, value, {{"default", "デフォルト"}});
                if (row < 0) row = MatchRow(FrameRateTable, value + "fps");
                if (row < 0 || static_cast<uint32_t>(row) == kManualFrameRateRow)
                    return "--fps: unknown rate '" + value + "' (a preset or N/D)";
                host.Select(kIdFrameRate, row);
            }
        } else if (flag == "--p-frames") {
            error = number_field(kIdPFrames);
        } else if (flag == "--b-frames") {
            error = number_field(kIdBFrames);
        } else if (flag == "--scene-change") {
            error = number_field(kIdSceneChange);
        } else if (flag == "--block-size") {
            error = number_field(kIdAudioBlockSize);
        } else if (flag == "--matrix") {
            error = list_field(kIdQuantMatrix, QuantMatrixTable, {{"cg", "CG動画"}, {"mpeg", "MPEG標準"}});
        } else if (flag == "--sound") {
            error = list_field(kIdSoundMethod, SoundMethodTable,
                               {{"low", "MDCT-Low"}, {"mid", "MDCT-Mid"}, {"high", "MDCT-High"}, {"raw", "RawFile"}});
        } else if (flag == "--quality") {
            if (!next()) return "--quality needs I,P,B";
            std::string parts[3];
            size_t start = 0;
            for (int k = 0; k < 3; ++k) {
                const size_t comma = value.find(',', start);
                if ((k < 2) != (comma != std::string::npos)) return "--quality: '" + value + "' is not I,P,B";
                parts[k] = value.substr(start, k < 2 ? comma - start : std::string::npos);
                if (!IsDigits(parts[k])) return "--quality: '" + value + "' is not I,P,B";
                start = comma + 1;
            }
            host.SetText(kIdQualityI, parts[0]);
            host.SetText(kIdQualityP, parts[1]);
            host.SetText(kIdQualityB, parts[2]);
        } else if (flag == "--version") {
            std::printf("rvxenc %s\n", RVX_VERSION);
            std::exit(kExitOk);
        } else if (flag == "--progress") {
            if (!next()) return "--progress needs bar, json or none";
            args.progress = Lower(value);
            if (args.progress != "bar" && args.progress != "json" && args.progress != "none")
                return "--progress: unknown style '" + value + "'";
        } else if (flag == "--info") {
            if (!next()) return "--info needs a file name";
            args.info = value;
        } else if (flag == "--overwrite") {
            if (has_inline) return "--overwrite takes no value";
            args.overwrite = true;
        } else if (flag == "--quiet" || flag == "-q") {
            if (has_inline) return "--quiet takes no value";
            args.quiet = true;
        } else if (flag.size() > 1 && flag[0] == '-') {
            return "unknown option '" + flag + "'";
        } else {
            args.sources.push_back(flag);
        }
        if (!error.empty()) return error;
    }
    if (!args.info.empty()) return args.sources.empty() ? "" : "--info takes no SOURCE";
    if (args.sources.empty()) return "no SOURCE given";
    if (!args.output_given) return "no output given (-o OUT.rvx)";
    if (args.sources.size() > 1 && !OutputIsFolder(args.output))
        return "several sources need a folder for the movies (-o DIR/)";
    return "";
}

std::string OutputRefusal(const std::string& output, bool overwrite) {
    switch (CheckOutputFile(output)) {
    case OutputCheck::kAccepted:
        return "";
    case OutputCheck::kEmpty:
        return "ファイル名が入力されていません。";
    case OutputCheck::kExists:
        return overwrite ? "" : "ファイル[" + output + "]はすでに存在します。(--overwrite replaces it)";
    case OutputCheck::kCannotCreate:
        break;
    }
    return "指定したファイル名で作成できません、 (" + output + ")";
}

std::string GuessSourceKind(const std::string& source) {
    const std::string ext = Lower(fs::path(source).extension().string());
    if (ext == ".bmp" || ext == ".png") return "images";
    if (ext == ".avi") return "avi";
    return "movie";
}


bool OutputIsFolder(const std::string& output) {
    std::error_code ec;
    return !output.empty() && (output.back() == '/' || fs::is_directory(output, ec));
}

std::string OutputInFolder(const std::string& folder, const std::string& source, const std::string& kind) {
    std::string name = fs::path(source).stem().string();
    if (kind == "images") {
        while (!name.empty() && name.back() >= '0' && name.back() <= '9') name.pop_back();
        while (!name.empty() && (name.back() == '_' || name.back() == '-' || name.back() == '.' || name.back() == ' '))
            name.pop_back();
        // A run named by numbers alone takes its folder's name.
        if (name.empty()) name = fs::absolute(source).parent_path().filename().string();
        if (name.empty()) name = "movie";
    }
    return (fs::path(folder) / (name + ".rvx")).string();
}

uint32_t SourcePathControl(const std::string& kind) {
    return kind == "images" ? kIdImagePath : kind == "avi" ? kIdAviPath : kIdMoviePath;
}
