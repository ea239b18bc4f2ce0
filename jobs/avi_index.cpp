#include "jobs/avi_index.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr size_t kEntrySize = 16;  // chunk id, flags, offset, size
constexpr size_t kEntriesPerRead = 4096;

uint32_t LittleEndian32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int64_t AviIndexEntryCount(const std::string& path, unsigned stream) {
    if (stream > 99) return -1;
    std::ifstream in(path, std::ios::binary);
    if (!in) return -1;
    in.seekg(0, std::ios::end);
    const int64_t file_size = static_cast<int64_t>(in.tellg());
    in.seekg(0);
    unsigned char head[12];
    if (file_size < 12 || !in.read(reinterpret_cast<char*>(head), sizeof head)) return -1;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0) return -1;
    // The legacy index lives in the first RIFF list; extension lists of
    // large files follow it and carry none.
    const int64_t riff_end = std::min<int64_t>(file_size, 8 + int64_t(LittleEndian32(head + 4)));
    int64_t at = 12;
    char id[3] = {char('0' + stream / 10), char('0' + stream % 10), 0};
    while (at + 8 <= riff_end) {
        unsigned char chunk[8];
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(chunk), sizeof chunk)) return -1;
        const int64_t size = LittleEndian32(chunk + 4);
        if (std::memcmp(chunk, "idx1", 4) != 0) {
            at += 8 + size + (size & 1);
            continue;
        }
        // A cut file keeps the index's start and loses its end: count what
        // is there only when all of it is.
        if (at + 8 + size > file_size) return -1;
        int64_t count = 0;
        std::vector<unsigned char> block(kEntriesPerRead * kEntrySize);
        for (int64_t left = size / int64_t(kEntrySize); left > 0;) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(left, int64_t(kEntriesPerRead)));
            if (!in.read(reinterpret_cast<char*>(block.data()), std::streamsize(n * kEntrySize))) return -1;
            for (size_t i = 0; i < n; ++i)
                if (std::memcmp(&block[i * kEntrySize], id, 2) == 0) ++count;
            left -= int64_t(n);
        }
        return count;
    }
    return -1;
}
