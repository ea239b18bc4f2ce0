#pragma once
// The five file operations through which the graphic loader reads files.
// Callers may install their own (to read from an archive, say); surfaces keep
// a copy of the table that loaded them.

#include <cstdint>

using FileHandle = intptr_t;  // 0 means "no file"

constexpr uint32_t kFileAccessRead = 0x80000000u;
constexpr uint32_t kFileShareRead = 1;
constexpr uint32_t kFileOpenExisting = 3;

struct FileReaderTable {
    FileHandle (*open)(const char* name, uint32_t access, uint32_t share, uint32_t disposition) = nullptr;
    // Returns 1 and the bytes read (0 at the end of the file), or 0 on an error.
    int32_t (*read)(FileHandle file, void* buffer, uint32_t count, uint32_t* bytes_read,
                    void* reserved) = nullptr;
    // origin 0: start, 1: current, 2: end. Returns the new position or -1.
    int64_t (*seek)(FileHandle file, int64_t offset, int32_t origin) = nullptr;
    // -1 on an error.
    int64_t (*size)(FileHandle file) = nullptr;
    int32_t (*close)(FileHandle file) = nullptr;
};

// POSIX files behind the table.
FileReaderTable PlatformFileReader();
