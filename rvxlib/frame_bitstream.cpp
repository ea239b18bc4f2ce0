#include "rvxlib/frame_bitstream.h"

#include <cstdio>

namespace _pqxlib_ {
class CHuffmanCoder {};
}

namespace _rvxlib_ {

std::string FrameFileName(const std::string& prefix, uint32_t n) {
    char number[16];
    std::snprintf(number, sizeof number, "%06u.hjx", n);
    return prefix + number;
}

bool WriteFramePayload(const std::string&, const RVXFrameLayout&, uint16_t, const int16_t*,
                       const RVXMotionEntry*) {
    return false;
}

RVXFrameReader::RVXFrameReader() {}
RVXFrameReader::~RVXFrameReader() = default;
bool RVXFrameReader::Begin(const uint8_t*, std::size_t) { return false; }
bool RVXFrameReader::ReadMacroblockHeader(bool, uint16_t*, RVXMotionEntry*) { return false; }

}  // namespace _rvxlib_
