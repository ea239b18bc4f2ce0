#pragma once
// The AVI page's two information lines ("映像ライン：", "音楽ライン：").

#include <string>

#include "jobs/avi_formats.h"

struct AviInfoLines {
    std::string video;  // "%dx%d %dbit %4.2f fps %dframes", or "ありません。"
    std::string sound;  // "%4.2fkHz %dbit %dch %dkbps", or "ありません。"
};

// Opens a new reader on the path; both lines are empty when it does not open.
AviInfoLines ReadAviInfoLines(const std::string& path);

// The lines for a stream's own format and the file's information.
std::string VideoInfoLine(const BitmapInfoHeader& source, const AviFileInfo& info);
std::string SoundInfoLine(const WaveFormatEx& source);
