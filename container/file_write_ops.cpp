#include "container/file_write_ops.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Handles are descriptors plus one, so that descriptor 0 is still a handle.
int Descriptor(FileHandle handle) { return int(handle - 1); }

FileHandle PosixOpen(const char* path, uint32_t access, uint32_t /*share*/, uint32_t disposition) {
    if (path == nullptr) return 0;
    int flags = O_CLOEXEC;
    const bool read = (access & kFileAccessRead) != 0;
    const bool write = (access & kFileAccessWrite) != 0;
    if (read && write) flags |= O_RDWR;
    else if (write) flags |= O_WRONLY;
    else flags |= O_RDONLY;
    switch (disposition) {
    case kFileCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kFileCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kFileOpenExisting: break;
    case kFileOpenAlways: flags |= O_CREAT; break;
    case kFileTruncateExisting: flags |= O_TRUNC; break;
    default: return 0;
    }
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? 0 : FileHandle(fd) + 1;
}

int32_t PosixWrite(FileHandle handle, const void* bytes, uint32_t length, uint32_t* written,
                   void* /*reserved*/) {
    const char* p = static_cast<const char*>(bytes);
    uint32_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(Descriptor(handle), p + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += uint32_t(n);
    }
    if (written != nullptr) *written = done;
    return done == length ? 1 : 0;
}

int32_t PosixSeek(FileHandle handle, int64_t offset, int64_t* position, uint32_t method) {
    int whence;
    switch (method) {
    case kFileSeekBegin: whence = SEEK_SET; break;
    case kFileSeekCurrent: whence = SEEK_CUR; break;
    case kFileSeekEnd: whence = SEEK_END; break;
    default: return 0;
    }
    const off_t result = ::lseek(Descriptor(handle), off_t(offset), whence);
    if (result < 0) return 0;
    if (position != nullptr) *position = int64_t(result);
    return 1;
}

int32_t PosixFlush(FileHandle handle) { return ::fsync(Descriptor(handle)) == 0 ? 1 : 0; }

int32_t PosixClose(FileHandle handle) {
    // The descriptor is gone after close even when it reports EINTR, so no retry.
    return ::close(Descriptor(handle)) == 0 ? 1 : 0;
}

const FileWriteOps kPosixOps = {PosixOpen, PosixWrite, PosixSeek, PosixFlush, PosixClose};

}  // namespace

const FileWriteOps& PosixFileWriteOps() { return kPosixOps; }
