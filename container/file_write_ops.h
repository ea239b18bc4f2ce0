#pragma once
// The five file operations through which the writer produces the movie file.
// The job hands a table to WriteMovie; PosixFileWriteOps() is the table on the
// platform's own file functions. Every entry reports failure, and the writer
// checks every result: a full disk must never pass for a written movie.

#include <cstdint>

// The handle type, read access and kFileOpenExisting are shared with the
// reading twin of this table.
#include "support/file_reader.h"

inline constexpr uint32_t kFileAccessWrite = 0x40000000u;
// Creation dispositions besides kFileOpenExisting (3).
inline constexpr uint32_t kFileCreateNew = 1;        // fails if the file exists
inline constexpr uint32_t kFileCreateAlways = 2;     // creates or truncates
inline constexpr uint32_t kFileOpenAlways = 4;
inline constexpr uint32_t kFileTruncateExisting = 5;
// Seek origins.
inline constexpr uint32_t kFileSeekBegin = 0;
inline constexpr uint32_t kFileSeekCurrent = 1;
inline constexpr uint32_t kFileSeekEnd = 2;

struct FileWriteOps {
    // path is UTF-8. Returns the handle, or 0 on failure.
    FileHandle (*open)(const char* path, uint32_t access, uint32_t share, uint32_t disposition);
    // Returns 1 when all length bytes were written (*written = length), else 0.
    // reserved is always null.
    int32_t (*write)(FileHandle handle, const void* bytes, uint32_t length, uint32_t* written,
                     void* reserved);
    // Returns 1 and the new position in *position (may be null), else 0.
    int32_t (*seek)(FileHandle handle, int64_t offset, int64_t* position, uint32_t method);
    // Forces the written data to the storage device; 1 on success.
    int32_t (*flush)(FileHandle handle);
    // Releases the handle; 1 when the file was closed without error.
    int32_t (*close)(FileHandle handle);
};

const FileWriteOps& PosixFileWriteOps();
