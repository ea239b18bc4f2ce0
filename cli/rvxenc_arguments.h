#pragma once
// rvxenc's command line: the flags fill the encode settings through the
// window's own option tables and field rules, and say what to encode where.

#include <string>
#include <vector>

#include "jobs/encode_settings.h"
#include "jobs/sound_tracks.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// The movie was written and kept, but came out too far over its target size.
constexpr int kExitTargetMissed = 3;
constexpr int kExitInterrupted = 130;

struct Arguments {
    std::vector<std::string> sources;
    std::string output;
    std::string source_kind;
    std::string wave;  // --wav: the sound of an image run
    EncodeSettings settings;
    uint16_t quality_level = 0;  // --quality N; 0 when three qualities were given
    bool quality_given = false;
    bool output_given = false;
    bool overwrite = false;
    bool quiet = false;
    bool help = false;     // -h, --help: print the usage, encode nothing
    bool version = false;  // --version: print the version, encode nothing
    std::string progress;  // "", "bar", "json" or "none"
    std::string info;  // --info FILE: print the AVI page's lines, encode nothing
};

// Every flag with a line of help.
const char* UsageText();

// Prints the message and the usage; returns the usage exit code.
int UsageError(const std::string& message);

// Reads the flags into args; returns an error text, or "" when they make
// sense. --help and --version end the reading where they stand.
std::string ParseArguments(int argc, char** argv, Arguments& args);

// The window's output check without the question: an existing file is only
// replaced when asked for. Empty when the output may be written, else the
// system's message.
std::string OutputRefusal(const std::string& output, bool overwrite);

// images (.bmp, .png), avi (.avi) or movie (anything else).
std::string GuessSourceKind(const std::string& source);

// True when the output names a folder: it ends with '/' or is one.
bool OutputIsFolder(const std::string& output);
// The movie a source becomes inside a folder: the source's own name with
// ".rvx"; an image run drops its frame number ("take1_0001.png" -> "take1.rvx").
std::string OutputInFolder(const std::string& folder, const std::string& source, const std::string& kind);

// One line per sound track for --info, numbered from 1 as --audio-track
// counts them: "音楽トラック1：[jpn] description".
std::string SoundTrackLines(const std::vector<SoundTrackInfo>& tracks);

// Lower-case ASCII letters; other bytes unchanged.
std::string Lower(std::string s);
bool IsDigits(const std::string& s);
