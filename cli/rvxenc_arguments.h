#pragma once
// rvxenc's command line: the flags fill the host's option controls the way a
// person fills the window's.

#include <string>
#include <vector>

#include "cli/terminal_host.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct Arguments {
    std::vector<std::string> sources;
    std::string output;
    std::string source_kind;
    bool output_given = false;
    bool overwrite = false;
    bool quiet = false;
    std::string progress;  // "", "bar", "json" or "none"
    std::string info;  // --info FILE: print the AVI page's lines, encode nothing
};

// Prints the message and the usage; returns the usage exit code.
int UsageError(const std::string& message);

// Fills the host's controls from the flags; returns an error text or "".
std::string ParseArguments(int argc, char** argv, Arguments& args, TerminalHost& host);

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

// The control that holds a source kind's path.
uint32_t SourcePathControl(const std::string& kind);
