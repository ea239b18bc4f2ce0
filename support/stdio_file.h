#pragma once
// One owner for a stdio stream: closed on every path out of a scope, or
// closed on purpose with Close, which tells whether every byte arrived.
// Offsets go through fseeko/ftello so files beyond 2 GiB work everywhere.

#include <cstdint>
#include <cstdio>
#include <filesystem>

class StdioFile {
public:
    StdioFile() = default;
    explicit StdioFile(std::FILE* file) : file_(file) {}
    StdioFile(const std::filesystem::path& path, const char* mode) : file_(std::fopen(path.c_str(), mode)) {}
    ~StdioFile() { Reset(); }
    StdioFile(StdioFile&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
    StdioFile& operator=(StdioFile&& other) noexcept {
        if (this != &other) {
            Reset();
            file_ = other.file_;
            other.file_ = nullptr;
        }
        return *this;
    }
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }

    // True when no write failed and the stream closed cleanly; false without
    // a stream.
    bool Close();
    // Seeks to offset from whence (SEEK_SET, SEEK_CUR, SEEK_END).
    bool Seek(int64_t offset, int whence);
    // The current offset, or -1.
    int64_t Tell() const;
    // The stream's length (the offset is left at the end), or -1.
    int64_t Length();

private:
    void Reset();
    std::FILE* file_ = nullptr;
};

// The same operations for a stream someone else owns.
bool SeekFile(std::FILE* file, int64_t offset, int whence);
int64_t TellFile(std::FILE* file);
