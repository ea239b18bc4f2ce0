#pragma once
// Movies for the source tests, made by the ffmpeg program: its moving test
// pattern (detail and motion) and a sine tone, in whatever container and
// codecs a test names.

#include <cstdlib>
#include <string>

inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline bool HaveFfmpegProgram() {
    static const bool found = std::system("command -v ffmpeg >/dev/null 2>&1") == 0;
    return found;
}

// Runs ffmpeg quietly with the arguments; true when it succeeded.
inline bool RunFfmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -hide_banner -nostdin -loglevel error -y " + arguments).c_str()) == 0;
}

// Input arguments for `frames` pictures of the test pattern at the rate
// ("25", "30000/1001"), and optionally `seconds` of a 440 Hz tone.
inline std::string PatternInput(int width, int height, const std::string& rate, int frames) {
    return "-f lavfi -i testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=" + rate +
           " -frames:v " + std::to_string(frames);
}
inline std::string ToneInput(double seconds, int sample_rate = 44100) {
    return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sample_rate) +
           ":duration=" + std::to_string(seconds);
}

// Writes `frames` pictures of the same pattern as numbered PNGs
// (pattern "dir/src%04d.png"), the reference a decoded movie is compared with.
inline bool WritePatternPngs(const std::string& pattern, int width, int height, const std::string& rate, int frames) {
    return RunFfmpeg(PatternInput(width, height, rate, frames) + " -start_number 1 " + ShellQuoted(pattern));
}
