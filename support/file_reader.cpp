#include "support/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Descriptor 0 is a valid file, so handles are descriptors plus one.
FileHandle PosixOpen(const char* name, uint32_t access, uint32_t, uint32_t disposition) {
    if (name == nullptr || access != kFileAccessRead || disposition != kFileOpenExisting) return 0;
    int fd;
    do {
        fd = ::open(name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? 0 : FileHandle{fd} + 1;
}

int32_t PosixRead(FileHandle file, void* buffer, uint32_t count, uint32_t* bytes_read, void*) {
    if (file <= 0) return 0;
    ssize_t n;
    do {
        n = ::read(static_cast<int>(file - 1), buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return 0;
    if (bytes_read) *bytes_read = static_cast<uint32_t>(n);
    return 1;
}

int64_t PosixSeek(FileHandle file, int64_t offset, int32_t origin) {
    if (file <= 0 || origin < 0 || origin > 2) return -1;
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return ::lseek(static_cast<int>(file - 1), offset, whence);
}

int64_t PosixSize(FileHandle file) {
    struct stat st;
    if (file <= 0 || ::fstat(static_cast<int>(file - 1), &st) != 0) return -1;
    return st.st_size;
}

int32_t PosixClose(FileHandle file) {
    if (file <= 0) return 0;
    return ::close(static_cast<int>(file - 1)) == 0 ? 1 : 0;
}

}  // namespace

FileReaderTable PlatformFileReader() {
    return FileReaderTable{PosixOpen, PosixRead, PosixSeek, PosixSize, PosixClose};
}
