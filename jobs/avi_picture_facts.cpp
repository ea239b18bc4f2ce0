#include "jobs/avi_picture_facts.h"

#include <cmath>
#include <cstring>

#include "jobs/avi_formats.h"
#include "jobs/ffmpeg_api.h"
#include "jobs/ffmpeg_stream_input.h"

namespace {

constexpr size_t kDisplayMatrixBytes = 9 * sizeof(int32_t);

// Undecodable packets before the first picture are passed over, but only so
// many: a stream of nothing but damage must not be read to its end here.
constexpr int kMaxRejectedBeforePicture = 16;

}  // namespace

SourcePictureFacts PictureFactsFromDisplayMatrix(const int32_t matrix[9]) {
    SourcePictureFacts facts;
    // The matrix maps a picture's points to the shown ones; a negative
    // determinant of its 2x2 part turns the picture over. Taking the mirror
    // out (the first column negated) leaves the turn before it.
    const double a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    int32_t turn_only[9];
    for (int i = 0; i < 9; ++i) turn_only[i] = matrix[i];
    if (a * d - b * c < 0) {
        facts.mirrored = true;
        turn_only[0] = -turn_only[0];
        turn_only[3] = -turn_only[3];
    }
    // FFmpeg gives the turn counter-clockwise in [-180, 180], NaN for a
    // matrix of zeros.
    const double counter_clockwise = Ffmpeg().av_display_rotation_get(turn_only);
    if (!std::isfinite(counter_clockwise)) return SourcePictureFacts{};
    const long quarters = std::lround(-counter_clockwise / 90.0);
    facts.rotation = static_cast<uint32_t>(((quarters % 4) + 4) % 4) * 90;
    return facts;
}

SourcePictureFacts ReadAviPictureFacts(const std::string& path) {
    SourcePictureFacts facts;
    CFfmpegStreamInput input;
    if (input.Open(path, "avi", CFfmpegStreamInput::Kind::kVideo) != kAviOk) return facts;
    const AVStream* stream = input.Stream();
    size_t size = 0;
    const uint8_t* side = Ffmpeg().av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (side && size >= kDisplayMatrixBytes) {
        int32_t matrix[9];
        std::memcpy(matrix, side, kDisplayMatrixBytes);
        facts = PictureFactsFromDisplayMatrix(matrix);
    }
    switch (stream->codecpar->field_order) {
    case AV_FIELD_PROGRESSIVE:
        return facts;
    case AV_FIELD_TT:
    case AV_FIELD_BT:  // bottom coded first, top shown first
        facts.interlaced = true;
        facts.top_field_first = true;
        return facts;
    case AV_FIELD_BB:
    case AV_FIELD_TB:
        facts.interlaced = true;
        facts.top_field_first = false;
        return facts;
    default:
        break;
    }
    AVFrame* frame = Ffmpeg().av_frame_alloc();
    if (!frame) return facts;
    for (int rejected = 0; rejected <= kMaxRejectedBeforePicture;) {
        const CFfmpegStreamInput::DecodeResult got = input.Decode(frame);
        if (got == CFfmpegStreamInput::DecodeResult::kEnd) break;
        if (got == CFfmpegStreamInput::DecodeResult::kRejected) {
            ++rejected;
            continue;
        }
        facts.interlaced = frame->interlaced_frame != 0;
        facts.top_field_first = !facts.interlaced || frame->top_field_first != 0;
        break;
    }
    Ffmpeg().av_frame_free(&frame);
    return facts;
}
