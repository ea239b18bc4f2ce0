#include "gst/pad_byte_source.h"

#include <algorithm>
#include <cstring>

#include "support/region_check.h"

namespace {

// Large reads go upstream in pieces so one pull never asks for gigabytes.
constexpr uint64_t kPullPiece = 4 << 20;

}  // namespace

bool CPadByteSource::Read(uint64_t offset, uint64_t length, void* out) {
    if (offset > size_ || length > size_ - offset) return false;
    uint8_t* p = static_cast<uint8_t*>(out);
    while (length > 0) {
        const guint piece = guint(std::min(length, kPullPiece));
        GstBuffer* buffer = nullptr;
        last_flow_ = gst_pad_pull_range(pad_, offset, piece, &buffer);
        if (last_flow_ != GST_FLOW_OK) return false;
        CheckRegionForLibrary(p, piece);
        const gsize got = gst_buffer_extract(buffer, 0, p, piece);
        gst_buffer_unref(buffer);
        if (got != piece) return false;
        p += piece;
        offset += piece;
        length -= piece;
    }
    return true;
}
