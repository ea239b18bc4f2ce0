#pragma once
// The picture steps a source's pictures take before the codec's own
// conversion, always in this order: deinterlace, rotate (and mirror), crop,
// scale. They run in a libavfilter graph; nothing of FFmpeg is loaded for a
// job that asks for none of them.

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/source_settings.h"

struct AVFilterGraph;
struct AVFilterContext;
struct AVFrame;

// The steps for one source, with the source's own facts already folded in.
struct PictureSteps {
    bool deinterlace = false;
    bool top_field_first = true;
    uint32_t rotation = 0;  // clockwise degrees: 0, 90, 180 or 270
    bool mirrored = false;  // left to right, after turning
    CropEdges crop;         // counted on the turned picture
    uint32_t scale_width = 0;
    uint32_t scale_height = 0;

    bool Any() const {
        return deinterlace || rotation != 0 || mirrored || !crop.Empty() || scale_width != 0 || scale_height != 0;
    }
};

// The source's facts and the settings as steps: the display rotation is
// always followed, the extra rotation added to it, and kAuto deinterlaces
// what the source says is interlaced. The crop edges are the settings'
// (kEdges) or `found` (kAuto, black borders already found).
PictureSteps StepsFor(const SourceSettings& settings, const SourcePictureFacts& facts, const CropEdges& found);

// The picture the steps make of a width x height source picture. Empty
// (and `refusal` set, for a person) when the crop leaves nothing or a side
// comes out beyond what the codec takes.
struct PictureSize {
    uint32_t width = 0;
    uint32_t height = 0;
};
PictureSize StepsOutputSize(const PictureSteps& steps, uint32_t width, uint32_t height, std::string& refusal);

class CPictureFilter {
public:
    CPictureFilter() = default;
    ~CPictureFilter();
    CPictureFilter(const CPictureFilter&) = delete;
    CPictureFilter& operator=(const CPictureFilter&) = delete;

    // Builds the graph for top-down pictures in a source layout of
    // encode_job.h (24-bit BGR, 32-bit BGRx or BGRA) with rows `stride`
    // bytes apart. False, with Failure() saying why, when FFmpeg cannot be
    // loaded or the steps cannot apply to this picture.
    bool Open(const PictureSteps& steps, uint32_t layout, uint32_t width, uint32_t height, uint32_t stride);
    // Hands one picture in; the pictures it completes come out of Pull.
    bool Push(const uint8_t* pixels);
    // No more pictures: the ones the steps still hold come out of Pull.
    bool Flush();
    // The next finished picture (top-down, OutputStride() bytes a row) or
    // null when none is ready, or Failed().
    const uint8_t* Pull();
    bool Failed() const { return !failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    void Close();

    // The finished pictures: BGRA when the source had alpha, else BGRx.
    uint32_t OutputLayout() const { return output_layout_; }
    uint32_t OutputWidth() const { return output_.width; }
    uint32_t OutputHeight() const { return output_.height; }
    uint32_t OutputStride() const { return output_.width * 4; }

private:
    bool Fail(const std::string& reason);
    std::string ChainText(const PictureSteps& steps, bool deinterlace, bool scale, bool alpha) const;
    bool BuildGraph(const std::string& chain);

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    AVFrame* frame_ = nullptr;
    uint32_t input_format_ = 0;  // an AVPixelFormat
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t stride_ = 0;
    uint32_t pixel_bytes_ = 4;
    bool split_planes_ = false;
    int64_t next_pts_ = 0;
    PictureSize output_;
    uint32_t output_layout_ = 0;
    std::vector<uint8_t> picture_;
    std::string failure_;
};
