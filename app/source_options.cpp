#include "app/source_options.h"

#include <vector>

namespace {

constexpr uint64_t kMicrosecondsPerSecond = 1000000;
// Bounds that keep every sum below in 64 bits: about 31,000 years in
// seconds, far more than any movie, and as many frames.
constexpr uint64_t kMostSeconds = 1000000000000ull;
constexpr uint64_t kMostHours = 1000000000ull;
constexpr uint64_t kMostFrames = 1000000000000000000ull;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Trimmed, with ASCII letters in lower case: the words and units are read
// without regard to case.
std::string Word(const std::string& text) {
    std::string word = Trimmed(text);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return word;
}

// Decimal digits only, as a number no larger than the limit.
bool ReadWhole(const std::string& digits, uint64_t limit, uint64_t* value) {
    if (digits.empty() || digits.size() > 19) return false;
    uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > limit) return false;
    *value = n;
    return true;
}

// "s", "s." or "s.fff" as microseconds; the whole seconds at most the limit.
bool ReadSeconds(const std::string& text, uint64_t limit, uint64_t* microseconds) {
    const size_t dot = text.find('.');
    uint64_t whole = 0;
    if (!ReadWhole(text.substr(0, dot), limit, &whole)) return false;
    uint64_t fraction = 0;
    if (dot != std::string::npos) {
        const std::string digits = text.substr(dot + 1);
        uint64_t scale = kMicrosecondsPerSecond;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            scale /= 10;
            fraction += static_cast<uint64_t>(c - '0') * scale;
        }
    }
    *microseconds = whole * kMicrosecondsPerSecond + fraction;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// "m:ss(.f)" or "h:mm:ss(.f)": the parts after the first stay below 60.
bool ReadClock(const std::string& text, uint64_t* microseconds) {
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2 || parts.size() > 3) return false;
    uint64_t total = 0;
    if (!ReadWhole(parts[0], kMostHours, &total)) return false;
    if (parts.size() == 3) {
        uint64_t minutes = 0;
        if (parts[1].size() > 2 || !ReadWhole(parts[1], 59, &minutes)) return false;
        total = total * 60 + minutes;
    }
    uint64_t seconds = 0;
    const std::string& last = parts.back();
    if (last.substr(0, last.find('.')).size() > 2 || !ReadSeconds(last, 59, &seconds)) return false;
    *microseconds = total * 60 * kMicrosecondsPerSecond + seconds;
    return true;
}

}  // namespace

bool ParseSourceTime(const std::string& text, SourceTime* time) {
    const std::string value = Word(text);
    SourceTime parsed;
    if (!value.empty() && value.back() == 'f') {
        parsed.unit = SourceTime::Unit::kFrames;
        if (!ReadWhole(value.substr(0, value.size() - 1), kMostFrames, &parsed.value)) return false;
    } else {
        parsed.unit = SourceTime::Unit::kMicroseconds;
        const bool clock = value.find(':') != std::string::npos;
        if (!(clock ? ReadClock(value, &parsed.value) : ReadSeconds(value, kMostSeconds, &parsed.value)))
            return false;
    }
    *time = parsed;
    return true;
}

bool ParseSourceStart(const std::string& text, SourceTime* start) {
    SourceTime parsed;
    if (!Trimmed(text).empty() && !ParseSourceTime(text, &parsed)) return false;
    if (parsed.value == 0) parsed = SourceTime();
    *start = parsed;
    return true;
}

bool ParseSourceDuration(const std::string& text, SourceTime* duration) {
    SourceTime parsed;
    if (!Trimmed(text).empty() && (!ParseSourceTime(text, &parsed) || parsed.value == 0)) return false;
    *duration = parsed;
    return true;
}

bool ParseScaleSide(const std::string& text, uint32_t* side) {
    const std::string value = Trimmed(text);
    uint64_t pixels = 0;
    if (!value.empty() && (!ReadWhole(value, kMaxScaleDimension, &pixels) || pixels == 0)) return false;
    *side = static_cast<uint32_t>(pixels);
    return true;
}

bool ParseScaleSize(const std::string& text, uint32_t* width, uint32_t* height) {
    const std::vector<std::string> parts = Split(Word(text), 'x');
    if (parts.size() != 2 || (parts[0].empty() && parts[1].empty())) return false;
    uint32_t w = 0, h = 0;
    if (!ParseScaleSide(parts[0], &w) || !ParseScaleSide(parts[1], &h)) return false;
    // A blank inside ("16 x") would pass the trimming of each side.
    if (parts[0] != Trimmed(parts[0]) || parts[1] != Trimmed(parts[1])) return false;
    *width = w;
    *height = h;
    return true;
}

bool ParseCrop(const std::string& text, CropMode* mode, CropEdges* edges) {
    const std::string value = Word(text);
    if (value == "none" || value == "auto") {
        *mode = value == "none" ? CropMode::kNone : CropMode::kAuto;
        *edges = CropEdges();
        return true;
    }
    const std::vector<std::string> parts = Split(value, ',');
    if (parts.size() != 4) return false;
    uint64_t n[4];
    for (size_t i = 0; i < 4; ++i)
        if (!ReadWhole(parts[i], UINT32_MAX, &n[i])) return false;
    const CropEdges parsed{uint32_t(n[0]), uint32_t(n[1]), uint32_t(n[2]), uint32_t(n[3])};
    *mode = parsed.Empty() ? CropMode::kNone : CropMode::kEdges;
    *edges = parsed;
    return true;
}

bool ParseExtraRotation(const std::string& text, uint16_t* degrees) {
    const std::string value = Word(text);
    for (const uint16_t turn : {0, 90, 180, 270})
        if (value == std::to_string(turn)) {
            *degrees = turn;
            return true;
        }
    if (value != "auto") return false;
    *degrees = 0;
    return true;
}

bool ParseDeinterlace(const std::string& text, Deinterlace* mode) {
    const std::string value = Word(text);
    if (value == "auto") *mode = Deinterlace::kAuto;
    else if (value == "on") *mode = Deinterlace::kOn;
    else if (value == "off") *mode = Deinterlace::kOff;
    else return false;
    return true;
}

bool ParseAudioTrack(const std::string& text, uint16_t* track) {
    uint64_t n = 0;
    if (!ReadWhole(Trimmed(text), UINT16_MAX, &n) || n == 0) return false;
    *track = static_cast<uint16_t>(n);
    return true;
}
