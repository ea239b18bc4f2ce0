#include "cli/rvxenc_arguments.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "app/output_check.h"
#include "app/source_options.h"
#include "container/quant_matrices.h"
#include "jobs/option_tables.h"
#include "jobs/rate_control.h"

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
    "  --preset P            how hard the encoder works for quality per byte: classic (default, the\n"
    "                        fixed decisions of earlier versions), fast, medium or slow\n"
    "  --aq                  finer quantisers where a picture is calm, coarser where it is busy\n"
    "                        (for the eye; lowers PSNR a little; not with classic)\n"
    "  --matrix M            CG動画 (cg), MPEG標準 (mpeg) or flat (one step for every coefficient)\n"
    "  --quality I,P,B       frame qualities, 2 (finest) to 32 (default 4,6,8)\n"
    "  --quality N           one level: classic codes N,N+2,N+4, the other presets balance P and B\n"
    "  --size SIZE           code to this whole-file size in two passes (bytes; k, M, G are powers\n"
    "                        of 1000, KiB, MiB, GiB of 1024: 50M, 700MiB)\n"
    "  --bitrate RATE        code to this average rate in two passes (bits per second: 4M, 800k)\n"
    "  --sound S             MDCT-Low, MDCT-Mid, MDCT-High or RawFile\n"
    "  --block-size N        audio block size (default 1024)\n"
    "  --start T             begin the movie at T in the source: seconds (12.5), a clock time\n"
    "                        (1:02:03.5, 02:03) or a count of source frames (120f)\n"
    "  --duration T          take this much of the source (the same units; not 0)\n"
    "  --audio-track N       the source's sound track N, counted from 1 as --info lists them\n"
    "  --deinterlace D       auto (default: when the source says it is interlaced), on or off\n"
    "  --rotate R            auto (default: the source's own rotation), or 0, 90, 180, 270 degrees\n"
    "                        more clockwise on top of it\n"
    "  --crop C              none (default), auto (black borders) or L,T,R,B pixels, after rotation\n"
    "  --scale S             WxH, Wx or xH (the missing side keeps the shape), after cropping\n"
    "  --overwrite           replace an existing output file\n"
    "  --quiet               no progress\n"
    "  --progress STYLE      bar (on a terminal), json (one object per line on stderr) or none\n"
    "  --info FILE           print an AVI file's picture and sound lines and any movie's sound\n"
    "                        tracks, encode nothing\n"
    "\n"
    "Exit status: 0 every movie written; 1 a source failed; 2 a usage error, or a target or\n"
    "source setting the only source cannot take; 3 a movie written and kept, but more than 2 %\n"
    "over its --size or --bitrate target; 130 interrupted.\n";

using Aliases = std::vector<std::pair<const char*, const char*>>;

// The row of a list given its window text or an ASCII alias, -1 when neither.
int32_t MatchRow(const OptionRow* table, const std::string& value, const Aliases& aliases = {}) {
    if (int32_t row = FindOptionRow(table, value.c_str()); row >= 0) return row;
    const std::string lower = Lower(value);
    for (uint32_t i = 0; i < OptionRowCount(table); ++i)
        if (Lower(table[i].text) == lower) return static_cast<int32_t>(i);
    for (const auto& [alias, text] : aliases)
        if (lower == alias) return FindOptionRow(table, text);
    return -1;
}

// The arguments one flag at a time; a flag's value comes from "--flag=value"
// or from the next argument.
class FlagReader {
public:
    explicit FlagReader(std::vector<std::string> list) : list_(std::move(list)) {}

    // Moves to the next argument; false after the last.
    bool Next() {
        if (next_ >= list_.size()) return false;
        flag_ = list_[next_++];
        value_.clear();
        inline_ = false;
        if (flag_.rfind("--", 0) == 0) {
            if (size_t eq = flag_.find('='); eq != std::string::npos) {
                value_ = flag_.substr(eq + 1);
                flag_ = flag_.substr(0, eq);
                inline_ = true;
            }
        }
        return true;
    }
    const std::string& Flag() const { return flag_; }
    bool HasInlineValue() const { return inline_; }
    // Takes the flag's value; false when it has none.
    bool TakeValue() {
        if (inline_) return true;
        if (next_ >= list_.size()) return false;
        value_ = list_[next_++];
        return true;
    }
    const std::string& Value() const { return value_; }

private:
    std::vector<std::string> list_;
    size_t next_ = 0;
    std::string flag_;
    std::string value_;
    bool inline_ = false;
};

// A list's flag: the value of the row it names. extra names values the
// window's list does not offer.
std::string ReadListFlag(FlagReader& reader, const OptionRow* table, const Aliases& aliases, uint32_t& value,
                         const std::vector<std::pair<const char*, uint32_t>>& extra = {}) {
    if (!reader.TakeValue()) return reader.Flag() + " needs a value";
    for (const auto& [name, extra_value] : extra) {
        if (Lower(reader.Value()) == name) {
            value = extra_value;
            return "";
        }
    }
    const int32_t row = MatchRow(table, reader.Value(), aliases);
    if (row < 0) return reader.Flag() + ": unknown value '" + reader.Value() + "'";
    value = OptionRowValue(table, row);
    return "";
}

// A field's flag: digits only, then read as the window reads its field.
std::string ReadDigits(FlagReader& reader) {
    if (!reader.TakeValue()) return reader.Flag() + " needs a number";
    if (!IsDigits(reader.Value())) return reader.Flag() + ": '" + reader.Value() + "' is not a number";
    return "";
}

std::string ReadNumberFlag(FlagReader& reader, uint16_t& value) {
    std::string error = ReadDigits(reader);
    if (error.empty()) value = FieldSetting16(reader.Value());
    return error;
}

std::string ReadNumberFlag(FlagReader& reader, uint32_t& value) {
    std::string error = ReadDigits(reader);
    if (error.empty()) value = ParseFieldNumber(reader.Value());
    return error;
}

// A preset of the frame-rate list, or N/D as the manual row's two fields.
std::string ReadFrameRateFlag(FlagReader& reader, FrameRate& rate) {
    if (!reader.TakeValue()) return "--fps needs a rate";
    const std::string& value = reader.Value();
    if (const size_t slash = value.find('/'); slash != std::string::npos) {
        const std::string n = value.substr(0, slash), d = value.substr(slash + 1);
        if (!IsDigits(n) || !IsDigits(d)) return "--fps: '" + value + "' is not N/D";
        rate = ChosenFrameRate(kManualFrameRateRow, n, d);
        return "";
    }
    int32_t row = MatchRow(FrameRateTable, value, {{"default", "デフォルト"}});
    if (row < 0) row = MatchRow(FrameRateTable, value + "fps");
    if (row < 0 || static_cast<uint32_t>(row) == kManualFrameRateRow)
        return "--fps: unknown rate '" + value + "' (a preset or N/D)";
    rate = ChosenFrameRate(row, "", "");
    return "";
}

std::string ReadQualityFlag(FlagReader& reader, Arguments& args) {
    if (!reader.TakeValue()) return "--quality needs I,P,B or N";
    const std::string& value = reader.Value();
    if (IsDigits(value)) {
        args.quality_level = FieldSetting16(value);
        if (args.quality_level == 0) return "--quality: '" + value + "' is not a level from 2 to 32";
        return "";
    }
    args.quality_level = 0;
    EncodeSettings& settings = args.settings;
    std::string parts[3];
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t comma = value.find(',', start);
        if ((k < 2) != (comma != std::string::npos)) return "--quality: '" + value + "' is not I,P,B or N";
        parts[k] = value.substr(start, k < 2 ? comma - start : std::string::npos);
        if (!IsDigits(parts[k])) return "--quality: '" + value + "' is not I,P,B or N";
        start = comma + 1;
    }
    settings.quality_i = FieldSetting16(parts[0]);
    settings.quality_p = FieldSetting16(parts[1]);
    settings.quality_b = FieldSetting16(parts[2]);
    return "";
}

// The flags that choose how the movie is coded, each filling the setting the
// window's control of the same meaning fills. known is false for any other
// flag.
std::string ReadCodingFlag(FlagReader& reader, Arguments& args, bool& known) {
    EncodeSettings& settings = args.settings;
    const std::string& flag = reader.Flag();
    known = true;
    if (flag == "--picture-format") return ReadListFlag(reader, PictureFormatTable, {}, settings.picture_format);
    if (flag == "--transform")
        return ReadListFlag(reader, TransformTable, {{"dct-nodef", "DCT(NoDEF)"}, {"nodef", "DCT(NoDEF)"}},
                            settings.transform);
    if (flag == "--fps") return ReadFrameRateFlag(reader, settings.frame_rate);
    if (flag == "--p-frames") return ReadNumberFlag(reader, settings.p_frames);
    if (flag == "--b-frames") return ReadNumberFlag(reader, settings.b_frames);
    if (flag == "--scene-change") return ReadNumberFlag(reader, settings.scene_change);
    if (flag == "--block-size") return ReadNumberFlag(reader, settings.audio_block_size);
    if (flag == "--matrix") {
        uint32_t matrix = settings.matrix;
        const std::string error = ReadListFlag(reader, QuantMatrixTable, {{"cg", "CG動画"}, {"mpeg", "MPEG標準"}},
                                               matrix, {{"flat", kMatrixSelectorEven}});
        settings.matrix = static_cast<uint16_t>(matrix);
        return error;
    }
    if (flag == "--sound")
        return ReadListFlag(reader, SoundMethodTable,
                            {{"low", "MDCT-Low"}, {"mid", "MDCT-Mid"}, {"high", "MDCT-High"}, {"raw", "RawFile"}},
                            settings.sound_method);
    if (flag == "--quality") return ReadQualityFlag(reader, args);
    if (flag == "--preset") {
        if (!reader.TakeValue()) return "--preset needs classic, fast, medium or slow";
        if (!_rvxlib_::PresetFromName(Lower(reader.Value()), &settings.preset))
            return "--preset: unknown preset '" + reader.Value() + "' (classic, fast, medium or slow)";
        return "";
    }
    if (flag == "--size") {
        if (!reader.TakeValue()) return "--size needs a size (50M, 700MiB, 123456)";
        if (!ParseTargetSize(reader.Value(), &settings.target_bytes))
            return "--size: '" + reader.Value() + "' is not a size (50M, 700MiB, 123456)";
        return "";
    }
    if (flag == "--bitrate") {
        if (!reader.TakeValue()) return "--bitrate needs a rate (4M, 800k)";
        if (!ParseTargetBitrate(reader.Value(), &settings.target_bits_per_second))
            return "--bitrate: '" + reader.Value() + "' is not a rate in bits per second (4M, 800k)";
        return "";
    }
    if (flag == "--aq") {
        if (reader.HasInlineValue()) return "--aq takes no value";
        settings.adaptive_quantisation = true;
        return "";
    }
    known = false;
    return "";
}

// The flags about the part of the source, its sound track and the picture
// steps before the codec. known is false for any other flag.
std::string ReadSourceFlag(FlagReader& reader, SourceSettings& source, bool& known) {
    struct SourceFlag {
        const char* flag;
        std::string values;  // what the flag takes, for the messages
        std::function<bool(const std::string&)> read;
    };
    const SourceFlag flags[] = {
        {"--start", "a time (12.5, 1:02:03.5) or a count of frames (120f)",
         [&](const std::string& v) { return ParseSourceStart(v, &source.start); }},
        {"--duration", "a time above zero (12.5, 1:02:03.5) or a count of frames (120f)",
         [&](const std::string& v) { return ParseSourceDuration(v, &source.duration); }},
        {"--audio-track", "a track number from 1",
         [&](const std::string& v) { return ParseAudioTrack(v, &source.audio_track); }},
        {"--deinterlace", "auto, on or off",
         [&](const std::string& v) { return ParseDeinterlace(v, &source.deinterlace); }},
        {"--rotate", "auto, 0, 90, 180 or 270",
         [&](const std::string& v) { return ParseExtraRotation(v, &source.extra_rotation); }},
        {"--crop", "none, auto or L,T,R,B pixels",
         [&](const std::string& v) { return ParseCrop(v, &source.crop, &source.crop_edges); }},
        {"--scale", "WxH, Wx or xH with sides from 1 to " + std::to_string(kMaxScaleDimension),
         [&](const std::string& v) { return ParseScaleSize(v, &source.scale_width, &source.scale_height); }},
    };
    for (const SourceFlag& f : flags) {
        if (reader.Flag() != f.flag) continue;
        known = true;
        if (!reader.TakeValue()) return reader.Flag() + " needs " + f.values;
        // An empty value would pass as "unset" for the times.
        if (reader.Value().empty() || !f.read(reader.Value()))
            return reader.Flag() + ": '" + reader.Value() + "' is not " + f.values;
        return "";
    }
    known = false;
    return "";
}

// A flag that takes no value must not be given one.
std::string ReadSwitch(const FlagReader& reader, bool& value) {
    if (reader.HasInlineValue()) return reader.Flag() + " takes no value";
    value = true;
    return "";
}

// The flags about what is encoded where and how it is shown. known is false
// for any other flag.
std::string ReadProgramFlag(FlagReader& reader, Arguments& args, bool& known) {
    const std::string& flag = reader.Flag();
    known = true;
    if (flag == "-h" || flag == "--help") {
        args.help = true;
    } else if (flag == "--version") {
        args.version = true;
    } else if (flag == "-o" || flag == "--output") {
        if (!reader.TakeValue()) return flag + " needs a file name";
        args.output = reader.Value();
        args.output_given = true;
    } else if (flag == "--source") {
        if (!reader.TakeValue()) return "--source needs images, avi or movie";
        args.source_kind = Lower(reader.Value());
        if (args.source_kind != "images" && args.source_kind != "avi" && args.source_kind != "movie")
            return "--source: unknown kind '" + reader.Value() + "'";
    } else if (flag == "--wav") {
        if (!reader.TakeValue()) return "--wav needs a file name";
        std::error_code ec;
        if (!fs::exists(reader.Value(), ec)) return "--wav: " + reader.Value() + " does not exist";
        args.wave = reader.Value();
    } else if (flag == "--progress") {
        if (!reader.TakeValue()) return "--progress needs bar, json or none";
        args.progress = Lower(reader.Value());
        if (args.progress != "bar" && args.progress != "json" && args.progress != "none")
            return "--progress: unknown style '" + reader.Value() + "'";
    } else if (flag == "--info") {
        if (!reader.TakeValue()) return "--info needs a file name";
        args.info = reader.Value();
    } else if (flag == "--overwrite") {
        return ReadSwitch(reader, args.overwrite);
    } else if (flag == "--quiet" || flag == "-q") {
        return ReadSwitch(reader, args.quiet);
    } else {
        known = false;
    }
    return "";
}

// A single quality level becomes the three frame qualities once the preset
// and matrix are known, wherever their flags stood. The presets that decide
// by cost balance the frame types even at the default level.
void ResolveQualityLevel(Arguments& args) {
    EncodeSettings& settings = args.settings;
    uint16_t level = args.quality_level;
    if (level == 0 && !args.quality_given && _rvxlib_::TuningFor(settings.preset).balances_frame_qualities)
        level = kDefaultQualityI;
    if (level == 0) return;
    uint8_t intra[64], inter[64];
    LoadQuantMatrices(kMatrixSelectorMpeg, intra, inter);
    LoadQuantMatrices(settings.matrix, intra, inter);
    const _rvxlib_::RVXFrameQuantisers q = _rvxlib_::QuantisersForLevel(settings.preset, level, intra, inter);
    settings.quality_i = q.i;
    settings.quality_p = q.p;
    settings.quality_b = q.b;
}

// What the flags say together.
std::string CheckArguments(const Arguments& args) {
    if (!args.info.empty()) return args.sources.empty() ? "" : "--info takes no SOURCE";
    if (args.sources.empty()) return "no SOURCE given";
    if (!args.output_given) return "no output given (-o OUT.rvx)";
    if (args.sources.size() > 1 && !OutputIsFolder(args.output))
        return "several sources need a folder for the movies (-o DIR/)";
    if (std::string refusal = RateTargetRefusal(args.settings); !refusal.empty())
        return (args.settings.target_bytes ? "--size: " : "--bitrate: ") + refusal;
    return "";
}

}  // namespace

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

const char* UsageText() { return kUsage; }

int UsageError(const std::string& message) {
    std::fprintf(stderr, "rvxenc: %s\n%s", message.c_str(), kUsage);
    return kExitUsage;
}

std::string ParseArguments(int argc, char** argv, Arguments& args) {
    FlagReader reader(std::vector<std::string>(argv + 1, argv + argc));
    while (reader.Next()) {
        bool known = false;
        std::string error = ReadProgramFlag(reader, args, known);
        if (!known) error = ReadCodingFlag(reader, args, known);
        if (!known) error = ReadSourceFlag(reader, args.settings.source, known);
        if (known && reader.Flag() == "--quality") args.quality_given = true;
        if (!error.empty()) return error;
        if (args.help || args.version) return "";
        if (known) continue;
        const std::string& flag = reader.Flag();
        if (flag.size() > 1 && flag[0] == '-') return "unknown option '" + flag + "'";
        args.sources.push_back(flag);
    }
    ResolveQualityLevel(args);
    return CheckArguments(args);
}

std::string SoundTrackLines(const std::vector<SoundTrackInfo>& tracks) {
    std::string lines;
    for (size_t i = 0; i < tracks.size(); ++i) {
        lines += "音楽トラック" + std::to_string(i + 1) + "：";
        if (!tracks[i].language.empty()) lines += "[" + tracks[i].language + "] ";
        lines += tracks[i].description + "\n";
    }
    return lines;
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
