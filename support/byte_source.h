#pragma once
// Random access to the bytes of a file, or of whatever stands in for one (a
// block of memory, a player's byte stream), so that readers run the same
// checks wherever their bytes come from.

#include <cstdint>
#include <filesystem>
#include <string>

class IByteSource {
public:
    virtual ~IByteSource() = default;
    // The number of bytes; it does not change while the source is read.
    virtual uint64_t Size() = 0;
    // Reads exactly length bytes at offset; false when any of them cannot be
    // read (outside the source, a failed read, a stream that ended early).
    virtual bool Read(uint64_t offset, uint64_t length, void* out) = 0;
};

// A regular file, read with pread.
class CFileByteSource final : public IByteSource {
public:
    CFileByteSource() = default;
    ~CFileByteSource() override;
    CFileByteSource(const CFileByteSource&) = delete;
    CFileByteSource& operator=(const CFileByteSource&) = delete;

    // False, with *error set for a person, when the path is missing,
    // unreadable or not a regular file.
    bool Open(const std::filesystem::path& path, std::string* error);
    uint64_t Size() override { return size_; }
    bool Read(uint64_t offset, uint64_t length, void* out) override;

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Bytes someone else keeps in memory for as long as the source is read.
class CMemoryByteSource final : public IByteSource {
public:
    CMemoryByteSource(const uint8_t* bytes, uint64_t size) : bytes_(bytes), size_(size) {}
    uint64_t Size() override { return size_; }
    bool Read(uint64_t offset, uint64_t length, void* out) override;

private:
    const uint8_t* bytes_;
    uint64_t size_;
};
