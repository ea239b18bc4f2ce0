#pragma once
// How the image_run fuzz target cuts one input into the files of a run, and
// how fuzz_make_seeds joins files into such an input.
//
//   [first file] ( MARK flags [file] )*
//
// MARK is the eight bytes below; the byte after it holds the next file's
// flags. Bytes before the first mark (if any) are a file of flags 0, so any
// single image is a run of one. A mutation inside a file never moves the cuts, and
// libFuzzer's crossovers splice whole files from one run into another. At
// most kMostFiles files are taken; the rest is ignored.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace image_run {

constexpr uint8_t kMark[8] = {0xFF, 'R', 'V', 'X', 'n', 'e', 'x', 't'};
constexpr std::size_t kMostFiles = 8;

// Flags of a file.
// The PNG chunk CRCs are made right before decoding, so that mutations of a
// chunk's contents reach the decoders instead of stopping at the CRC test.
constexpr uint8_t kRepairCrcs = 1;

struct Part {
    std::vector<uint8_t> bytes;
    uint8_t flags = 0;
};

inline std::vector<Part> Split(const uint8_t* data, std::size_t size) {
    std::vector<Part> parts;
    std::size_t at = 0;
    uint8_t flags = 0;
    while (parts.size() < kMostFiles) {
        const uint8_t* end = data + size;
        const uint8_t* mark = nullptr;
        for (const uint8_t* p = data + at; size - std::size_t(p - data) >= sizeof kMark;) {
            p = static_cast<const uint8_t*>(std::memchr(p, kMark[0], std::size_t(end - p) - sizeof kMark + 1));
            if (p == nullptr) break;
            if (std::memcmp(p, kMark, sizeof kMark) == 0) {
                mark = p;
                break;
            }
            ++p;
        }
        const std::size_t stop = mark ? std::size_t(mark - data) : size;
        // An input that opens with a mark has no file before it.
        if (!(mark && stop == 0)) parts.push_back({std::vector<uint8_t>(data + at, data + stop), flags});
        if (!mark) break;
        at = stop + sizeof kMark;
        flags = at < size ? data[at] : 0;
        if (at < size) ++at;
    }
    return parts;
}

inline std::vector<uint8_t> Join(const std::vector<Part>& parts) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 || parts[i].flags != 0) {
            out.insert(out.end(), kMark, kMark + sizeof kMark);
            out.push_back(parts[i].flags);
        }
        out.insert(out.end(), parts[i].bytes.begin(), parts[i].bytes.end());
    }
    return out;
}

}  // namespace image_run
