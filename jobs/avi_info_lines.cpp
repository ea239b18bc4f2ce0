#include "jobs/avi_info_lines.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jobs/avi_movie.h"

namespace {

constexpr const char* kMissing = "ありません。";

}  // namespace

std::string VideoInfoLine(const BitmapInfoHeader& source, const AviFileInfo& info) {
    const double fps = info.scale ? static_cast<double>(info.rate) / info.scale : 0.0;
    char line[160];
    std::snprintf(line, sizeof line, "%dx%d %dbit %4.2f fps %dframes", source.width, std::abs(source.height),
                  int(source.bit_count), fps, static_cast<int>(info.length));
    return line;
}

std::string SoundInfoLine(const WaveFormatEx& source) {
    // In 64 bits: a 32-bit product would wrap for rates above 2^29 bytes a
    // second and show a small, wrong figure.
    const uint64_t kbps = uint64_t(source.average_bytes_per_second) * 8 / 1000;
    char line[160];
    std::snprintf(line, sizeof line, "%4.2fkHz %dbit %dch %llukbps", source.samples_per_second / 1000.0,
                  int(source.bits_per_sample), int(source.channels), static_cast<unsigned long long>(kbps));
    return line;
}

AviInfoLines ReadAviInfoLines(const std::string& path) {
    AviInfoLines lines;
    CAVIMovie movie;
    if (movie.Open(path) != kAviOk) return lines;

    BitmapInfoHeader video;
    lines.video = movie.GetSourceFormats(&video, nullptr, nullptr) == kAviOk
                      ? VideoInfoLine(video, *movie.GetFileInfo())
                      : kMissing;

    uint32_t length = 0;
    if (movie.GetSourceFormats(nullptr, nullptr, &length) != kAviOk || length < sizeof(WaveFormatEx)) {
        lines.sound = kMissing;
        return lines;
    }
    std::vector<uint8_t> format(length);
    if (movie.GetSourceFormats(nullptr, format.data(), &length) != kAviOk) {
        lines.sound = kMissing;
        return lines;
    }
    WaveFormatEx source;
    std::memcpy(&source, format.data(), sizeof source);
    lines.sound = SoundInfoLine(source);
    return lines;
}
