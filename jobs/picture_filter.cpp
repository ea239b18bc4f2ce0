#include "jobs/picture_filter.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "jobs/encode_job.h"
#include "jobs/ffmpeg_api.h"
#include "rvxlib/format/format_word.h"

namespace {

// bwdif looks two lines up and down in each field; smaller pictures have
// no field to interpolate from and pass as they are.
constexpr uint32_t kSmallestDeinterlaced = 3;

uint32_t NormalRotation(uint32_t degrees) { return (degrees / 90 % 4) * 90; }

// The other side for a scale that gives one: the cropped picture's shape,
// to the nearest pixel and never below one.
uint32_t KeptShape(uint32_t given, uint32_t given_side, uint32_t other_side) {
    const uint64_t scaled = (uint64_t(given) * other_side * 2 + given_side) / (uint64_t(given_side) * 2);
    return scaled == 0 ? 1 : scaled > UINT32_MAX ? UINT32_MAX : uint32_t(scaled);
}

std::string EdgesText(const CropEdges& c) {
    return std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) + "," +
           std::to_string(c.bottom);
}

std::string SizeText(uint64_t w, uint64_t h) { return std::to_string(w) + "x" + std::to_string(h); }

}  // namespace

PictureSteps StepsFor(const SourceSettings& settings, const SourcePictureFacts& facts, const CropEdges& found) {
    PictureSteps steps;
    steps.deinterlace = settings.deinterlace == Deinterlace::kOn ||
                        (settings.deinterlace == Deinterlace::kAuto && facts.interlaced);
    steps.top_field_first = facts.top_field_first;
    steps.rotation = NormalRotation(NormalRotation(facts.rotation) + NormalRotation(settings.extra_rotation));
    steps.mirrored = facts.mirrored;
    if (settings.crop == CropMode::kEdges) steps.crop = settings.crop_edges;
    if (settings.crop == CropMode::kAuto) steps.crop = found;
    steps.scale_width = settings.scale_width;
    steps.scale_height = settings.scale_height;
    return steps;
}

PictureSize StepsOutputSize(const PictureSteps& steps, uint32_t width, uint32_t height, std::string& refusal) {
    const bool sideways = steps.rotation == 90 || steps.rotation == 270;
    const uint64_t turned_w = sideways ? height : width, turned_h = sideways ? width : height;
    const CropEdges& c = steps.crop;
    if (uint64_t(c.left) + c.right >= turned_w || uint64_t(c.top) + c.bottom >= turned_h) {
        refusal = "the crop (" + EdgesText(c) + ") leaves nothing of the " + SizeText(turned_w, turned_h) +
                  " picture";
        return {};
    }
    const uint32_t cropped_w = uint32_t(turned_w - c.left - c.right);
    const uint32_t cropped_h = uint32_t(turned_h - c.top - c.bottom);
    PictureSize size{cropped_w, cropped_h};
    if (steps.scale_width != 0 && steps.scale_height != 0)
        size = {steps.scale_width, steps.scale_height};
    else if (steps.scale_width != 0)
        size = {steps.scale_width, KeptShape(steps.scale_width, cropped_w, cropped_h)};
    else if (steps.scale_height != 0)
        size = {KeptShape(steps.scale_height, cropped_h, cropped_w), steps.scale_height};
    const uint32_t largest = std::min<uint32_t>(_rvxlib_::kMaxPictureDimension, kMaxScaleDimension);
    if (size.width > largest || size.height > largest) {
        refusal = "the picture would be " + SizeText(size.width, size.height) + ", larger than " +
                  SizeText(largest, largest);
        return {};
    }
    return size;
}

CPictureFilter::~CPictureFilter() { Close(); }

void CPictureFilter::Close() {
    if (graph_ || frame_) {
        const FfmpegApi& av = Ffmpeg();
        if (frame_) av.av_frame_free(&frame_);
        if (graph_) av.avfilter_graph_free(&graph_);
    }
    graph_ = nullptr;
    source_ = nullptr;
    sink_ = nullptr;
    frame_ = nullptr;
    failure_.clear();
}

bool CPictureFilter::Fail(const std::string& reason) {
    if (failure_.empty()) failure_ = reason;
    return false;
}

// The filter graph's description: the steps in their fixed order, between
// the conversions the filters need.
std::string CPictureFilter::ChainText(const PictureSteps& steps, bool deinterlace, bool scale, bool alpha) const {
    std::string chain;
    auto add = [&chain](const std::string& filter) { chain += (chain.empty() ? "" : ",") + filter; };
    if ((deinterlace || scale) && !split_planes_) add("format=gbrp");
    if (deinterlace) {
        add(std::string("bwdif=mode=send_frame:deint=all:parity=") + (steps.top_field_first ? "tff" : "bff"));
    }
    if (steps.rotation == 90) add("transpose=clock");
    if (steps.rotation == 270) add("transpose=cclock");
    if (steps.rotation == 180) add("hflip,vflip");
    if (steps.mirrored) add("hflip");
    if (!steps.crop.Empty()) {
        const bool sideways = steps.rotation == 90 || steps.rotation == 270;
        const uint32_t turned_w = sideways ? height_ : width_, turned_h = sideways ? width_ : height_;
        const CropEdges& c = steps.crop;
        add("crop=w=" + std::to_string(turned_w - c.left - c.right) +
            ":h=" + std::to_string(turned_h - c.top - c.bottom) + ":x=" + std::to_string(c.left) +
            ":y=" + std::to_string(c.top) + ":exact=1");
    }
    if (scale)
        add("scale=w=" + std::to_string(output_.width) + ":h=" + std::to_string(output_.height) +
            ":flags=lanczos+accurate_rnd+full_chroma_int+full_chroma_inp");
    add(alpha ? "format=bgra" : "format=bgr0");
    return chain;
}

// Builds the graph from the source of width_ x height_ pictures in
// input_format_ through `chain` to the sink.
bool CPictureFilter::BuildGraph(const std::string& chain) {
    const FfmpegApi& av = Ffmpeg();
    graph_ = av.avfilter_graph_alloc();
    frame_ = av.av_frame_alloc();
    if (!graph_ || !frame_) return Fail("no memory for the picture steps");
    const std::string source_args = "video_size=" + SizeText(width_, height_) +
                                    ":pix_fmt=" + std::to_string(input_format_) +
                                    ":time_base=1/1:pixel_aspect=1/1";
    if (av.avfilter_graph_create_filter(&source_, av.avfilter_get_by_name("buffer"), "in", source_args.c_str(),
                                        nullptr, graph_) < 0 ||
        av.avfilter_graph_create_filter(&sink_, av.avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                        graph_) < 0) {
        return Fail("the picture steps could not be built");
    }
    AVFilterInOut* outputs = av.avfilter_inout_alloc();
    AVFilterInOut* inputs = av.avfilter_inout_alloc();
    int status = -1;
    if (outputs && inputs) {
        outputs->name = av.av_strdup("in");
        outputs->filter_ctx = source_;
        outputs->pad_idx = 0;
        outputs->next = nullptr;
        inputs->name = av.av_strdup("out");
        inputs->filter_ctx = sink_;
        inputs->pad_idx = 0;
        inputs->next = nullptr;
        status = av.avfilter_graph_parse_ptr(graph_, chain.c_str(), &inputs, &outputs, nullptr);
        if (status >= 0) status = av.avfilter_graph_config(graph_, nullptr);
    }
    av.avfilter_inout_free(&inputs);
    av.avfilter_inout_free(&outputs);
    if (status < 0) return Fail("the picture steps could not be built (" + chain + ")");
    return true;
}

bool CPictureFilter::Open(const PictureSteps& steps, uint32_t layout, uint32_t width, uint32_t height,
                          uint32_t stride) {
    Close();
    std::string refusal;
    output_ = StepsOutputSize(steps, width, height, refusal);
    if (output_.width == 0) return Fail(refusal);
    if (!LoadFfmpeg()) return Fail("the picture steps need FFmpeg's libraries: " + FfmpegLoadFailure());
    static std::once_flag quiet;
    std::call_once(quiet, [] { Ffmpeg().av_log_set_level(AV_LOG_QUIET); });

    const bool alpha = _rvxlib_::FormatSource(layout) == _rvxlib_::kSourceBGRA32;
    const bool packed24 = _rvxlib_::FormatSource(layout) == _rvxlib_::kSourceBGR24;
    const bool deinterlace = steps.deinterlace && width >= kSmallestDeinterlaced && height >= kSmallestDeinterlaced;
    pixel_bytes_ = packed24 ? 3 : 4;
    // Turning and cropping take the packed pictures as they are. The
    // deinterlacer wants planes, and the scaler is faster on them (about a
    // third at 1080 lines); FFmpeg splits colour exactly but rounds some
    // alpha values by one (joining is exact), so pictures with alpha are
    // split here.
    const bool scale = steps.scale_width != 0 || steps.scale_height != 0;
    split_planes_ = alpha && (deinterlace || scale);
    input_format_ = uint32_t(split_planes_ ? AV_PIX_FMT_GBRAP
                             : alpha       ? AV_PIX_FMT_BGRA
                             : packed24    ? AV_PIX_FMT_BGR24
                                           : AV_PIX_FMT_BGR0);
    if (stride < uint64_t(width) * pixel_bytes_) return Fail("the picture's rows overlap");
    width_ = width;
    height_ = height;
    stride_ = stride;
    next_pts_ = 0;
    output_layout_ = alpha ? kLayoutARGB32 : kLayoutRGB32;

    const std::string chain = ChainText(steps, deinterlace, scale, alpha);
    if (!BuildGraph(chain)) return false;
    picture_.assign(std::size_t(OutputStride()) * output_.height, 0);
    return true;
}

bool CPictureFilter::Push(const uint8_t* pixels) {
    if (!graph_ || Failed()) return Fail("the picture steps are not open");
    const FfmpegApi& av = Ffmpeg();
    frame_->format = int(input_format_);
    frame_->width = int(width_);
    frame_->height = int(height_);
    if (av.av_frame_get_buffer(frame_, 0) < 0) {
        av.av_frame_unref(frame_);
        return Fail("no memory for a picture of the steps");
    }
    for (uint32_t y = 0; y < height_; ++y) {
        const uint8_t* p = pixels + std::size_t(y) * stride_;
        if (!split_planes_) {
            std::memcpy(frame_->data[0] + std::ptrdiff_t(y) * frame_->linesize[0], p,
                        std::size_t(width_) * pixel_bytes_);
            continue;
        }
        // FFmpeg's order of the planes: green, blue, red, alpha.
        uint8_t* g = frame_->data[0] + std::ptrdiff_t(y) * frame_->linesize[0];
        uint8_t* b = frame_->data[1] + std::ptrdiff_t(y) * frame_->linesize[1];
        uint8_t* r = frame_->data[2] + std::ptrdiff_t(y) * frame_->linesize[2];
        uint8_t* a = frame_->data[3] + std::ptrdiff_t(y) * frame_->linesize[3];
        for (uint32_t x = 0; x < width_; ++x, p += 4) b[x] = p[0], g[x] = p[1], r[x] = p[2], a[x] = p[3];
    }
    frame_->pts = next_pts_++;
    // Without a reference kept the source takes the frame's buffer over and
    // leaves the frame empty for the next picture.
    const int status = av.av_buffersrc_add_frame_flags(source_, frame_, 0);
    av.av_frame_unref(frame_);
    return status >= 0 || Fail("the picture steps refused a picture");
}

bool CPictureFilter::Flush() {
    if (!graph_ || Failed()) return Fail("the picture steps are not open");
    return Ffmpeg().av_buffersrc_add_frame_flags(source_, nullptr, 0) >= 0 ||
           Fail("the picture steps could not be ended");
}

const uint8_t* CPictureFilter::Pull() {
    if (!graph_ || Failed()) return nullptr;
    const FfmpegApi& av = Ffmpeg();
    const int status = av.av_buffersink_get_frame(sink_, frame_);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return nullptr;
    if (status < 0) {
        Fail("the picture steps failed on a picture");
        return nullptr;
    }
    // The codec was opened on the size worked out beforehand; a graph that
    // made another would have it read past the picture.
    if (uint32_t(frame_->width) != output_.width || uint32_t(frame_->height) != output_.height) {
        const std::string made = SizeText(uint32_t(frame_->width), uint32_t(frame_->height));
        av.av_frame_unref(frame_);
        Fail("the picture steps made a " + made + " picture instead of " + SizeText(output_.width, output_.height));
        return nullptr;
    }
    const uint32_t row = OutputStride();
    for (uint32_t y = 0; y < output_.height; ++y)
        std::memcpy(&picture_[std::size_t(y) * row], frame_->data[0] + std::ptrdiff_t(y) * frame_->linesize[0], row);
    av.av_frame_unref(frame_);
    return picture_.data();
}
