#include "container/rvx_movie_decoder.h"

#include <cstring>

#include "support/cpu_features.h"

bool CRVXMovieDecoder::Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse) {
    reader_ = nullptr;
    if (!reader.IsOpen()) return false;
    _rvxlib_::RVXDecoderSettings settings;
    settings.width = reader.Width();
    settings.height = reader.Height();
    settings.format = reader.FormatFlags();
    std::memcpy(settings.intra_matrix, reader.IntraMatrix(), rvx_layout::kMatrixSize);
    std::memcpy(settings.inter_matrix, reader.InterMatrix(), rvx_layout::kMatrixSize);
    settings.inverse_dct = inverse;
    if (!decoder_.Open(settings, ProcessorFeatures())) return false;
    reader_ = &reader;
    next_record_ = 0;
    current_group_ = UINT32_MAX;
    damaged_ = 0;
    return true;
}

const uint8_t* CRVXMovieDecoder::NextPicture(uint32_t* frameNumber) {
    if (reader_ == nullptr) return nullptr;
    const auto& frames = reader_->Frames();
    for (;;) {
        if (const uint8_t* picture = decoder_.NextPicture(frameNumber)) return picture;
        if (next_record_ >= frames.size()) {
            decoder_.EndGroup();
            return decoder_.NextPicture(frameNumber);
        }
        const RVXFrameInfo& frame = frames[next_record_];
        if (frame.group != current_group_) {
            const _rvxlib_::RVXGroupEntry& group = reader_->Groups()[frame.group];
            decoder_.BeginGroup(group.first_frame, group.record_count);
            current_group_ = frame.group;
        }
        const bool read = reader_->ReadPayload(next_record_, payload_);
        if (!read) payload_.clear();
        if (!decoder_.DecodeFrame(frame.type, payload_.data(), payload_.size()) || !read) ++damaged_;
        ++next_record_;
    }
}
