#pragma once
// The bytes upstream of a demuxer's sink pad that works in pull mode, as a
// byte source for the container reader. Reads stop at once when the pad is
// flushing; Flushing() tells that apart from damage.

#include <gst/gst.h>

#include "support/byte_source.h"

class CPadByteSource final : public IByteSource {
public:
    // size: the upstream length in bytes.
    CPadByteSource(GstPad* sinkpad, uint64_t size) : pad_(sinkpad), size_(size) {}
    uint64_t Size() override { return size_; }
    bool Read(uint64_t offset, uint64_t length, void* out) override;
    bool Flushing() const { return last_flow_ == GST_FLOW_FLUSHING; }

private:
    GstPad* pad_;
    uint64_t size_;
    GstFlowReturn last_flow_ = GST_FLOW_OK;
};
