// rvxdec: checks an RVX movie and tells what it holds; optionally decodes it.
//
//   rvxdec FILE.rvx [--json] [--frames DIR] [--y4m OUT|-] [--wav OUT] [--salvage]
//                   [--idct float|int] [--compare PATTERN [--compare-start N]]
//   rvxdec --thumbnail FILE.rvx OUT.png [SIZE]
//
// Exit status: 0 when the movie is intact and every requested output was
// written, 1 when the movie is damaged or unreadable (also when --salvage
// decoded its intact part), 2 for a usage error, 3 when an output could not
// be written.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/json_text.h"
#include "cli/rvxdec_output.h"
#include "cli/rvxdec_thumbnail.h"
#include "container/rvx_layout.h"
#include "container/rvx_reader.h"
#include "snxlib/snx_format.h"

using namespace rvx_layout;

namespace {

constexpr int kExitIntact = 0;
constexpr int kExitDamaged = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;

struct Options {
    std::string movie;
    bool json = false;
    std::string wavPath;
    bool salvage = false;
    DecodeRequest decode;
};

void PrintUsage(std::FILE* out) {
    std::fputs(
        "usage: rvxdec FILE.rvx [--json] [--frames DIR] [--y4m OUT|-] [--wav OUT] [--salvage]\n"
        "              [--idct float|int] [--compare PATTERN [--compare-start N]]\n"
        "       rvxdec --thumbnail FILE.rvx OUT.png [SIZE]\n"
        "       rvxdec --version\n"
        "Verifies the movie (layout, CRCs, digests) and prints a summary.\n"
        "  --json            the summary as JSON\n"
        "  --frames DIR      decoded pictures as DIR/frameNNNNNN.png\n"
        "  --y4m OUT         decoded pictures as a YUV4MPEG2 stream ('-' for standard output)\n"
        "  --wav OUT         decoded sound as a 16-bit PCM WAVE file\n"
        "  --salvage         decode what is intact of a damaged movie (a cut movie's whole part;\n"
        "                    a picture that fails its CRC repeats the one before); the exit\n"
        "                    status still says the movie is damaged\n"
        "  --idct float|int  inverse DCT: float (the encoder's own, default) or int\n"
        "  --compare PATTERN PSNR against source pictures over R, G, B (and A when either has it),\n"
        "                    e.g. src/img%04d.png\n"
        "  --compare-start N number of the source picture of frame 0 (default: 0 if it exists, else 1)\n"
        "  --thumbnail       the first picture scaled to fit SIZE x SIZE (default 256) as PNG\n",
        out);
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--json") {
            options->json = true;
        } else if (arg == "--salvage") {
            options->salvage = true;
        } else if (arg == "--frames") {
            if (!value(&text)) return false;
            options->decode.framesDirectory = text;
        } else if (arg == "--y4m") {
            if (!value(&options->decode.y4mPath)) return false;
        } else if (arg == "--wav") {
            if (!value(&options->wavPath)) return false;
        } else if (arg == "--compare") {
            if (!value(&options->decode.comparePattern)) return false;
        } else if (arg == "--compare-start") {
            if (!value(&text)) return false;
            char* end = nullptr;
            const long start = std::strtol(text.c_str(), &end, 10);
            if (*end != '\0' || start < 0 || start > 1000000000) return false;
            options->decode.compareStart = int32_t(start);
        } else if (arg == "--idct") {
            if (!value(&text)) return false;
            if (text == "float") options->decode.integerIdct = false;
            else if (text == "int") options->decode.integerIdct = true;
            else return false;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return false;
        } else if (options->movie.empty()) {
            options->movie = arg;
        } else {
            return false;
        }
    }
    if (options->salvage && !WantsPictures(options->decode) && options->wavPath.empty()) return false;
    return !options->movie.empty();
}

const char* PictureFormatName(uint32_t flags) {
    const char* text = PictureFormatText(flags);
    return text ? text : "unknown";
}

const char* TransformName(uint32_t flags) {
    const char* text = TransformText(flags);
    return text ? text : "unknown";
}

std::string SoundMethodName(uint16_t mode) {
    const char* text = _snxlib_::SoundMethodText(mode);
    return text ? text : "mode " + std::to_string(mode);
}

struct Summary {
    bool headerRead = false;   // the fixed fields are worth showing
    bool opened = false;
    bool intact = false;
    uint32_t counts[4] = {};   // I, repeat, P, B records
};

void CountFrames(const CRVXReader& reader, Summary* summary) {
    for (const RVXFrameInfo& frame : reader.Frames()) {
        switch (RecordType(frame.type)) {
        case kRecordI: ++summary->counts[0]; break;
        case kRecordRepeat: ++summary->counts[1]; break;
        case kRecordP: ++summary->counts[2]; break;
        case kRecordB: ++summary->counts[3]; break;
        }
    }
}

double FramesPerSecond(const CRVXReader& reader) {
    return reader.RateDenominator() ? double(reader.RateNumerator()) / reader.RateDenominator() : 0.0;
}

void PrintText(std::FILE* out, const Options& options, const CRVXReader& reader, const Summary& s,
               const DecodeResult* decoded) {
    std::fprintf(out, "%s: %s\n", options.movie.c_str(),
                 s.intact ? "intact" : (s.opened ? "damaged" : "not a readable RVX movie"));
    if (s.headerRead) {
        std::fprintf(out, "  file size    %" PRIu64 " bytes\n", reader.FileSize());
        std::fprintf(out, "  picture      %u x %u, %s, %s\n", reader.Width(), reader.Height(),
                     PictureFormatName(reader.FormatFlags()), TransformName(reader.FormatFlags()));
        std::fprintf(out, "  frame rate   %u/%u (%.3f fps)\n", reader.RateNumerator(), reader.RateDenominator(),
                     FramesPerSecond(reader));
        std::fprintf(out, "  frames       %u in %u groups, GOP length %u", reader.FrameCount(), reader.GroupCount(),
                     reader.GopLength());
        if (s.opened) {
            std::fprintf(out, " (I %u, P %u, B %u", s.counts[0], s.counts[2], s.counts[3]);
            if (s.counts[1]) std::fprintf(out, ", repeat %u", s.counts[1]);
            std::fputs(")", out);
        }
        std::fputs("\n", out);
        if (FramesPerSecond(reader) > 0) {
            std::fprintf(out, "  duration     %.3f s\n", reader.FrameCount() / FramesPerSecond(reader));
        }
        if (!reader.HasSound()) {
            std::fputs("  sound        none\n", out);
        } else if (s.opened) {
            const _snxlib_::SNXHeader& sound = reader.Sound();
            const uint32_t sampleFrames = _snxlib_::SNXSampleFrames(sound);
            std::fprintf(out, "  sound        %s, %u channels, %u bits, %u Hz, %u sample frames (%.3f s), %" PRIu64
                              " bytes\n",
                         SoundMethodName(sound.mode).c_str(), sound.channels, sound.bits_per_sample, sound.sample_rate,
                         sampleFrames, sound.sample_rate ? double(sampleFrames) / sound.sample_rate : 0.0,
                         reader.SoundLength());
        }
    }
    for (const RVXProblem& problem : reader.Problems()) {
        std::fprintf(out, "  problem      [%s] at offset %" PRIu64 ": %s\n", RVXErrorName(problem.error),
                     problem.offset, problem.message.c_str());
    }
    if (decoded) {
        std::fprintf(out, "  decoded      %u pictures", decoded->framesDecoded);
        if (decoded->damagedFrames) std::fprintf(out, ", %u damaged", decoded->damagedFrames);
        std::fputs("\n", out);
        if (decoded->framesCompared) {
            std::fprintf(out, "  PSNR         %.2f dB mean, %.2f dB lowest over %u pictures\n", decoded->psnrMean,
                         decoded->psnrMin, decoded->framesCompared);
        }
    }
}

void PrintJson(std::FILE* out, const Options& options, const CRVXReader& reader, const Summary& s,
               const DecodeResult* decoded) {
    std::string j = "{\n";
    j += "  \"file\": " + JsonString(options.movie) + ",\n";
    j += std::string("  \"intact\": ") + (s.intact ? "true" : "false") + ",\n";
    if (s.headerRead) {
        char text[512];
        std::snprintf(text, sizeof text,
                      "  \"size\": %" PRIu64 ",\n  \"width\": %u,\n  \"height\": %u,\n"
                      "  \"picture_format\": \"%s\",\n  \"transform\": \"%s\",\n"
                      "  \"frame_rate\": {\"numerator\": %u, \"denominator\": %u, \"fps\": %.6f},\n"
                      "  \"frames\": %u,\n  \"groups\": %u,\n  \"gop_length\": %u,\n",
                      reader.FileSize(), reader.Width(), reader.Height(), PictureFormatName(reader.FormatFlags()),
                      TransformName(reader.FormatFlags()), reader.RateNumerator(), reader.RateDenominator(),
                      FramesPerSecond(reader), reader.FrameCount(), reader.GroupCount(), reader.GopLength());
        j += text;
        if (s.opened) {
            std::snprintf(text, sizeof text, "  \"frame_types\": {\"I\": %u, \"P\": %u, \"B\": %u, \"repeat\": %u},\n",
                          s.counts[0], s.counts[2], s.counts[3], s.counts[1]);
            j += text;
        }
        if (!reader.HasSound()) {
            j += "  \"sound\": null,\n";
        } else if (s.opened) {
            const _snxlib_::SNXHeader& sound = reader.Sound();
            const uint32_t sampleFrames = _snxlib_::SNXSampleFrames(sound);
            std::snprintf(text, sizeof text,
                          "  \"sound\": {\"method\": \"%s\", \"channels\": %u, \"bits_per_sample\": %u, "
                          "\"sample_rate\": %u, \"sample_frames\": %u, \"bytes\": %" PRIu64 "},\n",
                          SoundMethodName(sound.mode).c_str(), sound.channels, sound.bits_per_sample, sound.sample_rate,
                          sampleFrames, reader.SoundLength());
            j += text;
        }
    }
    if (decoded) {
        char text[256];
        std::snprintf(text, sizeof text, "  \"decoded\": {\"pictures\": %u, \"damaged\": %u", decoded->framesDecoded,
                      decoded->damagedFrames);
        j += text;
        if (decoded->framesCompared) {
            std::snprintf(text, sizeof text, ", \"compared\": %u, \"psnr_mean\": %.4f, \"psnr_min\": %.4f",
                          decoded->framesCompared, decoded->psnrMean, decoded->psnrMin);
            j += text;
            j += ", \"psnr_frames\": [";
            for (size_t i = 0; i < decoded->framePsnr.size(); ++i) {
                std::snprintf(text, sizeof text, "%s%.4f", i ? ", " : "", decoded->framePsnr[i]);
                j += text;
            }
            j += "]";
        }
        j += "},\n";
    }
    j += "  \"problems\": [";
    for (size_t i = 0; i < reader.Problems().size(); ++i) {
        const RVXProblem& p = reader.Problems()[i];
        j += i ? ",\n    " : "\n    ";
        j += "{\"error\": " + JsonString(RVXErrorName(p.error)) + ", \"offset\": " + std::to_string(p.offset) +
             ", \"message\": " + JsonString(p.message) + "}";
    }
    j += reader.Problems().empty() ? "]\n}\n" : "\n  ]\n}\n";
    std::fputs(j.c_str(), out);
}

// How much of the movie --salvage found intact, for a person.
void PrintSalvaged(std::FILE* out, const CRVXReader& reader, const DecodeResult* decoded,
                   const uint64_t* soundFrames) {
    const double fps = FramesPerSecond(reader);
    std::fprintf(out, "rvxdec: salvaged ");
    if (decoded) {
        const uint32_t whole = uint32_t(reader.Frames().size()) - decoded->damagedFrames;
        std::fprintf(out, "%u of %u pictures", whole, reader.FrameCount());
        if (fps > 0) std::fprintf(out, " (%.3f of %.3f s)", whole / fps, reader.FrameCount() / fps);
        if (decoded->damagedFrames) std::fprintf(out, ", %u skipped as damaged", decoded->damagedFrames);
    }
    if (soundFrames) {
        const uint32_t rate = reader.HeaderWord(kOffsetSoundSampleRate);
        const uint32_t total = reader.HeaderWord(kOffsetSoundSampleFrames);
        std::fprintf(out, "%s%" PRIu64 " of %u sound sample frames", decoded ? ", " : "", *soundFrames, total);
        if (rate) std::fprintf(out, " (%.3f of %.3f s)", double(*soundFrames) / rate, double(total) / rate);
    }
    std::fputs("\n", out);
}

// rvxdec --thumbnail FILE OUT [SIZE]: what a file manager's thumbnailer runs.
int Thumbnail(int argc, char** argv) {
    uint32_t size = kDefaultThumbnailSize;
    if (argc == 5) {
        char* end = nullptr;
        const long value = std::strtol(argv[4], &end, 10);
        if (*end != '\0' || value < 1 || value > 4096) {
            std::fprintf(stderr, "rvxdec: --thumbnail: SIZE must be 1..4096\n");
            return kExitUsage;
        }
        size = uint32_t(value);
    } else if (argc != 4) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string error;
    switch (WriteThumbnail(argv[2], argv[3], size, &error)) {
    case ThumbnailResult::kWritten: return kExitIntact;
    case ThumbnailResult::kUnreadableMovie: std::fprintf(stderr, "rvxdec: %s\n", error.c_str()); return kExitDamaged;
    case ThumbnailResult::kNotWritten: break;
    }
    std::fprintf(stderr, "rvxdec: %s\n", error.c_str());
    return kExitOutput;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        PrintUsage(stdout);
        return kExitIntact;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("rvxdec %s\n", RVX_VERSION);
        return kExitIntact;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--thumbnail") == 0) return Thumbnail(argc, argv);
    if (!ParseOptions(argc, argv, &options)) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    // When the pictures go to standard output the summary goes to standard error.
    std::FILE* summaryOut = options.decode.y4mPath == "-" ? stderr : stdout;

    CRVXReader reader;
    Summary summary;
    summary.opened = reader.Open(options.movie);
    if (summary.opened) {
        summary.headerRead = true;
    } else {
        const RVXError first = reader.Problems().front().error;
        summary.headerRead = first != RVXError::kCannotOpen && first != RVXError::kReadFailed &&
                             first != RVXError::kTruncatedHeader && first != RVXError::kBadMagic;
    }
    if (summary.opened) {
        CountFrames(reader, &summary);
        summary.intact = reader.Verify();
    }

    int status = summary.intact ? kExitIntact : kExitDamaged;
    // The outputs come from the movie as verified, or with --salvage from
    // what a tolerant reading keeps of it.
    CRVXReader salvaged;
    CRVXReader* source = summary.opened ? &reader : nullptr;
    if (options.salvage) source = salvaged.Open(options.movie, RVXReading::kTolerant) ? &salvaged : nullptr;
    options.decode.salvage = options.salvage;
    DecodeResult decoded;
    const bool decoding = source && WantsPictures(options.decode);
    std::string outputError;
    if (decoding) {
        decoded = DecodePictures(options.movie, options.decode);
        if (!decoded.ok) outputError = decoded.error;
    }
    uint64_t soundFrames = 0;
    if (source && !options.wavPath.empty()) {
        std::string error;
        if (!DecodeSoundToWave(options.movie, options.wavPath, options.salvage, &soundFrames, &error) &&
            outputError.empty()) {
            outputError = error;
        }
    }
    if (!outputError.empty()) {
        std::fprintf(stderr, "rvxdec: %s\n", outputError.c_str());
        if (status == kExitIntact) status = kExitOutput;
    }
    if (!source && (WantsPictures(options.decode) || !options.wavPath.empty())) {
        const CRVXReader& refused = options.salvage ? salvaged : reader;
        std::fprintf(stderr, "rvxdec: nothing decoded: %s\n",
                     options.salvage && !refused.Problems().empty() ? refused.Problems().back().message.c_str()
                                                                    : "the movie cannot be read");
    }
    if (source && options.salvage) {
        PrintSalvaged(stderr, *source, decoding ? &decoded : nullptr, options.wavPath.empty() ? nullptr : &soundFrames);
    }
    if (options.json) {
        PrintJson(summaryOut, options, reader, summary, decoding ? &decoded : nullptr);
    } else {
        PrintText(summaryOut, options, reader, summary, decoding ? &decoded : nullptr);
    }
    return status;
}
