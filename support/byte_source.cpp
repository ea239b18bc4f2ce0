#include "support/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when [offset, offset + length) lies inside [0, size).
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace

CFileByteSource::~CFileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

bool CFileByteSource::Open(const std::filesystem::path& path, std::string* error) {
    if (fd_ >= 0) ::close(fd_);
    size_ = 0;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        *error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        *error = path.string() + " is not a regular file";
        return false;
    }
    size_ = uint64_t(info.st_size);
    return true;
}

bool CFileByteSource::Read(uint64_t offset, uint64_t length, void* out) {
    if (fd_ < 0 || !Inside(offset, length, size_)) return false;
    uint8_t* p = static_cast<uint8_t*>(out);
    while (length > 0) {
        const size_t piece = size_t(std::min<uint64_t>(length, 1u << 30));
        const ssize_t n = ::pread(fd_, p, piece, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += uint64_t(n);
        length -= uint64_t(n);
    }
    return true;
}

bool CMemoryByteSource::Read(uint64_t offset, uint64_t length, void* out) {
    if (!Inside(offset, length, size_)) return false;
    if (length > 0) std::memcpy(out, bytes_ + offset, size_t(length));
    return true;
}
