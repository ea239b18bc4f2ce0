#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "jobs/work_directory.h"

namespace fs = std::filesystem;

namespace {

std::string DirOf(const std::string& path) { return path.substr(0, path.size() - 1); }

}  // namespace

TEST(WorkDirectory, NameHasEightHexDigitsUnderTheTemporaryDirectory) {
    std::string path;
    ASSERT_TRUE(CreateWorkDirectory(path));
    const std::string tmp = TemporaryFilesDirectory();
    ASSERT_EQ(path.rfind(tmp, 0), 0u);
    const std::string name = path.substr(tmp.size());
    ASSERT_EQ(name.size(), 12u);  // rvx + 8 digits + '/'
    EXPECT_EQ(name.substr(0, 3), "rvx");
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef", 3), 11u);
    EXPECT_TRUE(fs::is_directory(path));
    RemoveWorkDirectory(path);
    EXPECT_FALSE(fs::exists(DirOf(path)));
}

TEST(WorkDirectory, NumberIsNeverZeroAndDiffersBetweenProcessesWithTheSameTick) {
    for (uint64_t tick : {0ull, 12345ull, 0xCD75A5B9ull}) {
        std::set<uint32_t> seen;
        for (uint32_t pid = 1; pid < 2000; ++pid) {
            const uint32_t n = WorkDirectoryNumber(tick, pid);
            EXPECT_NE(n, 0u);
            seen.insert(n);
        }
        EXPECT_EQ(seen.size(), 1999u);
    }
}

TEST(WorkDirectory, JobsOneAfterAnotherReuseTheName) {
    std::string first, second;
    ASSERT_TRUE(CreateWorkDirectory(first));
    RemoveWorkDirectory(first);
    ASSERT_TRUE(CreateWorkDirectory(second));
    EXPECT_EQ(first, second);
    RemoveWorkDirectory(second);
}

TEST(WorkDirectory, ALeftoverOfThisProcessIsReusedAndSubdirectoriesKeepIt) {
    std::string path;
    ASSERT_TRUE(CreateWorkDirectory(path));
    fs::create_directory(path + "sub");
    std::ofstream(path + "sub/inner.bin") << "x";
    std::ofstream(path + "tmpsnd.wav") << "x";
    RemoveWorkDirectory(path);
    EXPECT_FALSE(fs::exists(path + "tmpsnd.wav"));
    EXPECT_TRUE(fs::exists(path + "sub/inner.bin"));

    std::string again;
    ASSERT_TRUE(CreateWorkDirectory(again));
    EXPECT_EQ(again, path);
    fs::remove_all(path + "sub");
    RemoveWorkDirectory(again);
    EXPECT_FALSE(fs::exists(DirOf(path)));
}

TEST(WorkDirectory, ProcessesStartedTogetherNeverShareADirectory) {
    constexpr int kChildren = 12;
    int go[2], report[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(report), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kChildren; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(go[1]);
            char c;
            if (read(go[0], &c, 1) < 0) _exit(2);  // all start when the pipe closes
            std::string path;
            if (!CreateWorkDirectory(path)) _exit(3);
            const std::string mine = path + "owner";
            std::ofstream(mine) << getpid();
            usleep(50000);
            // Nobody else wrote here or removed the directory meanwhile.
            int count = 0;
            for (auto& e : fs::directory_iterator(path)) (void)e, ++count;
            std::ifstream in(mine);
            long owner = 0;
            in >> owner;
            const bool intact = count == 1 && owner == getpid();
            char line[300];
            const int n = std::snprintf(line, sizeof line, "%s %d\n", path.c_str(), intact ? 1 : 0);
            if (write(report[1], line, n) != n) _exit(4);
            RemoveWorkDirectory(path);
            _exit(0);
        }
        children.push_back(pid);
    }
    close(go[0]);
    close(report[1]);
    close(go[1]);  // releases every child at once (read returns 0)
    std::string all;
    char buf[512];
    for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) all.append(buf, n);
    close(report[0]);
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
    }
    std::set<std::string> dirs;
    int intact = 0, lines = 0;
    std::istringstream in(all);
    std::string dir;
    int ok;
    while (in >> dir >> ok) {
        dirs.insert(dir);
        intact += ok;
        ++lines;
    }
    EXPECT_EQ(lines, kChildren);
    EXPECT_EQ(intact, kChildren);
    EXPECT_EQ(static_cast<int>(dirs.size()), kChildren);
}
