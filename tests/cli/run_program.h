#pragma once
// Runs one of our programs (or any shell command) and collects what it says.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include <sys/wait.h>

#include "common/test_movies.h"

const std::string kRvxenc = std::string(RVX_BINARY_DIR) + "/cli/rvxenc";
const std::string kRvxdecProgram = std::string(RVX_BINARY_DIR) + "/cli/rvxdec";

struct ProgramResult {
    int exit_code = -1;
    std::string output;  // stdout and stderr together
};

inline ProgramResult RunCommand(const std::string& command) {
    ProgramResult r;
    std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
    const int status = ::pclose(p);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline ProgramResult RunRvxenc(const std::string& args) { return RunCommand(kRvxenc + " " + args); }

// The exit code of a command, with everything it printed in *output.
inline int RunProgram(const std::string& command, std::string* output) {
    ProgramResult r = RunCommand(command);
    *output = std::move(r.output);
    return r.exit_code;
}

// The mean PSNR rvxdec measures against the source pictures; -1 when none.
inline double MeanPsnr(const std::string& movie, const std::string& pattern) {
    std::string out;
    if (RunProgram(kRvxdecProgram + " --json --compare " + ShellQuoted(pattern) + " " + ShellQuoted(movie), &out) != 0)
        return -1;
    const size_t at = out.find("\"psnr_mean\": ");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + 13);
}
