#pragma once
// The video half of the AVI reader: the first video stream, decoded one
// picture per call into 32-bit bottom-up rows (B, G, R, A bytes), the layout
// of an uncompressed 32-bit device-independent bitmap.

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/avi_formats.h"
#include "jobs/ffmpeg_stream_input.h"

struct SwsContext;

class CAviVideoReader {
public:
    CAviVideoReader() = default;
    ~CAviVideoReader();
    CAviVideoReader(const CAviVideoReader&) = delete;
    CAviVideoReader& operator=(const CAviVideoReader&) = delete;

    // kAviOk, kAviNoData (no video stream) or kAviFail (not an AVI file).
    // A stream without a decoder opens; its reads report kAviNoInterface.
    int32_t Open(const std::string& path);
    void Close();

    bool HasStream() const { return input_.IsOpen(); }
    bool CanDecode() const { return input_.HasDecoder() && width_ != 0; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint32_t Rate() const { return rate_; }
    uint32_t Scale() const { return scale_; }
    uint32_t Length() const { return length_; }
    const BitmapInfoHeader& SourceHeader() const { return source_; }
    const BitmapInfoHeader& DecodedHeader() const { return decoded_; }

    // The next picture; the rows stay valid until the next call. A packet
    // the decoder rejects in the middle of the stream gives the previous
    // picture again, so the movie keeps its length and its sound stays in
    // step; kAviEndOfStream after the last picture.
    int32_t Read(const uint8_t** pixels);
    // The next Read gives the picture at that frame number, exactly the one
    // reading from the start would give: the stream is decoded again from its
    // start, since pictures stored out of display order (B frames) carry no
    // usable times in an AVI file.
    int32_t Seek(uint32_t frame);

private:
    bool Convert(const struct AVFrame* frame);
    // Moves to the next picture; converts it only when delivering, so that
    // seeking skips pictures at decoding cost alone.
    int32_t Advance(bool deliver);

    CFfmpegStreamInput input_;
    std::string path_;
    SwsContext* scaler_ = nullptr;
    struct AVFrame* frame_ = nullptr;
    struct AVFrame* last_ = nullptr;  // the newest decoded picture
    std::vector<uint8_t> output_;
    // The scaler writes into a buffer laid out as FFmpeg expects (aligned,
    // padded rows); its SIMD code may write past a row's last pixel, which a
    // tight buffer of ours would not survive.
    uint8_t* scaled_ = nullptr;
    int scaled_pitch_ = 0;
    BitmapInfoHeader source_;
    BitmapInfoHeader decoded_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t rate_ = 0;
    uint32_t scale_ = 0;
    uint32_t length_ = 0;
    uint32_t next_ = 0;
    bool have_picture_ = false;
    bool converted_ = false;  // the output holds last_
};
