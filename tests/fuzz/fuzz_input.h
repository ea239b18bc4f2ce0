#pragma once
// Helpers shared by the fuzz targets: readers that take a path get the input
// through an anonymous in-memory file, so a run touches no disk.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz_input {

// One in-memory file per process, rewritten with each input.
class MemoryFile {
public:
    MemoryFile() {
        fd_ = memfd_create("rvx-fuzz", 0);
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { close(fd_); }

    const std::string& Write(const uint8_t* data, size_t size) {
        if (ftruncate(fd_, 0) != 0) std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, data + done, size - done, off_t(done));
            if (n <= 0) std::abort();
            done += size_t(n);
        }
        return path_;
    }

private:
    int fd_ = -1;
    std::string path_;
};

inline uint32_t LoadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Keeps a value computed from decoded output alive, so every output byte
// that feeds it is really read.
inline void Sink(uint32_t value) {
    asm volatile("" : : "r"(value) : "memory");
}

}  // namespace fuzz_input
