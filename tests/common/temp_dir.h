#pragma once
// A fresh directory for one test, removed with everything in it afterwards.

#include <atomic>
#include <filesystem>
#include <string>

#include <unistd.h>

class TempDir {
public:
    explicit TempDir(const std::string& tag = "t") {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("rvxtest-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};
