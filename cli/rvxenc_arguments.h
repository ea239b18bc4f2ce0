#pragma once
// rvxenc's command line: the flags fill the host's option controls the way a
// person fills the window's.

#include <string>

#include "cli/terminal_host.h"

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct Arguments {
    std::string source;
    std::string output;
    std::string source_kind;
    bool output_given = false;
    bool overwrite = false;
    bool quiet = false;
    std::string info;  // --info FILE: print the AVI page's lines, encode nothing
};

// Prints the message and the usage; returns the usage exit code.
int UsageError(const std::string& message);

// Fills the host's controls from the flags; returns an error text or "".
std::string ParseArguments(int argc, char** argv, Arguments& args, TerminalHost& host);

// The window's output check without the question: an existing file is only
// replaced when asked for.
bool OutputAccepted(const Arguments& args);

// images (.bmp, .png), avi (.avi) or movie (anything else).
std::string GuessSourceKind(const std::string& source);
