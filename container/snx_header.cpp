#include "container/snx_header.h"

#include "snxlib/snx_format.h"

bool ParseSnxHeader(const uint8_t* bytes, size_t size, SnxHeaderInfo* info) {
    _snxlib_::SNXHeader header;
    if (size < kSnxHeaderSize || !_snxlib_::LoadSNXHeader(bytes, header)) return false;
    if (header.channels == 0) return false;
    SnxHeaderInfo h;
    h.endOffset = header.end_offset;
    h.mode = header.mode;
    h.channels = header.channels;
    h.bitsPerSample = header.bits_per_sample;
    h.sampleRate = header.sample_rate;
    h.blockCount = header.block_count;
    h.totalSamples = header.total_samples;
    h.blockLength = header.block_length;
    h.largestBlock = header.largest_block;
    h.extraLength = header.extra_length;
    h.sampleFrames = h.totalSamples / h.channels;
    *info = h;
    return true;
}
