#include "jobs/work_directory.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kNumberMask = 0xCD75A5B9u;

struct WorkDirectoryState {
    std::mutex mutex;
    pid_t owner_pid = 0;           // process the state below belongs to
    uint32_t number = 0;           // this process's own number
    std::set<uint32_t> created;    // numbers whose directory this process made
    std::set<std::string> in_use;  // directories held by live jobs
};

WorkDirectoryState& State() {
    static WorkDirectoryState state;
    return state;
}

uint64_t TickMilliseconds() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// A forked child must not inherit its parent's number and directories.
void RefreshForThisProcess(WorkDirectoryState& s) {
    const pid_t pid = ::getpid();
    if (s.owner_pid == pid) return;
    s.owner_pid = pid;
    s.number = WorkDirectoryNumber(TickMilliseconds(), static_cast<uint32_t>(pid));
    s.created.clear();
    s.in_use.clear();
}

std::string DirectoryName(uint32_t number) {
    char name[16];
    std::snprintf(name, sizeof name, "rvx%08x", number);
    return TemporaryFilesDirectory() + name;
}

// Another candidate when the process's own name is taken: spread far from the
// first so that neighbouring processes do not walk into each other's names.
uint32_t Candidate(uint32_t number, uint32_t attempt) {
    if (attempt == 0) return number;
    uint32_t v = number + attempt * 0x9E3779B9u;
    v ^= v >> 15;
    return v;
}

}  // namespace

uint32_t WorkDirectoryNumber(uint64_t tick_ms, uint32_t process_id) {
    // The process id lands in the high bits, which a tick count since
    // start-up leaves nearly constant, so equal ticks give different numbers.
    uint32_t pid_mix = process_id * 0x9E3779B1u;
    pid_mix = (pid_mix << 16) | (pid_mix >> 16);
    uint32_t v = (static_cast<uint32_t>(tick_ms) ^ kNumberMask) ^ pid_mix;
    if (v == 0) v = (static_cast<uint32_t>(tick_ms) + 1) ^ kNumberMask ^ pid_mix ^ 1u;
    return v;
}

std::string TemporaryFilesDirectory() {
    std::string dir;
    if (const char* env = std::getenv("TMPDIR"); env && *env) dir = env;
    if (dir.empty()) dir = "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

bool CreateWorkDirectory(std::string& path) {
    WorkDirectoryState& s = State();
    std::lock_guard<std::mutex> hold(s.mutex);
    RefreshForThisProcess(s);

    constexpr uint32_t kAttempts = 1000;
    for (uint32_t attempt = 0; attempt < kAttempts; ++attempt) {
        const uint32_t number = Candidate(s.number, attempt);
        if (number == 0) continue;
        const std::string dir = DirectoryName(number);
        path = dir + "/";
        if (s.in_use.count(path)) continue;
        if (::mkdir(dir.c_str(), 0700) == 0) {
            s.created.insert(number);
            s.in_use.insert(path);
            return true;
        }
        if (errno != EEXIST) return false;
        // Our own directory left over from an earlier job is reused; one that
        // another process made is never entered.
        struct stat st;
        if (s.created.count(number) && ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
            st.st_uid == ::geteuid()) {
            s.in_use.insert(path);
            return true;
        }
    }
    return false;
}

void RemoveWorkDirectory(const std::string& path) {
    if (path.empty()) return;
    {
        WorkDirectoryState& s = State();
        std::lock_guard<std::mutex> hold(s.mutex);
        s.in_use.erase(path);
    }
    // Paths are used whole rather than by changing the current directory,
    // which would disturb every other thread of the process.
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (!it->is_directory(type_ec) || it->is_symlink(type_ec)) files.push_back(it->path());
    }
    for (const fs::path& file : files) fs::remove(file, ec);
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    ::rmdir(dir.c_str());
}
