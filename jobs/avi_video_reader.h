#pragma once
// The video half of the AVI reader: the first video stream, decoded one
// picture per call into 32-bit bottom-up rows (B, G, R, A bytes), the layout
// of an uncompressed 32-bit device-independent bitmap. Every entry of the
// stream is a frame: capture programs write an empty entry where a picture
// repeats the one before, and the reader gives that picture again there.

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

    // The next frame; the rows stay valid until the next call. Each
    // decoded picture stands at its entry: over empty entries the picture
    // before is given again, black before the first picture when the stream
    // starts with empty entries, and the last picture up to the stream's
    // length when it ends with them (as far as the file's index counts
    // entries; a cut file ends where its pictures end). A packet the decoder
    // rejects in the middle of the stream gives the previous picture again.
    // So the movie keeps its length and its sound stays in step;
    // kAviEndOfStream after the last frame.
    int32_t Read(const uint8_t** pixels);
    // The next Read gives the picture at that frame number, exactly the one
    // reading from the start would give: the stream is decoded again from its
    // start, since pictures stored out of display order (B frames) carry no
    // usable times in an AVI file.
    int32_t Seek(uint32_t frame);
    // A picture at or shortly after that frame, found by seeking to the key
    // frame before it: quick, but not exact, for looking at a movie's
    // pictures rather than coding them. The next Read needs a Seek first.
    int32_t ReadNear(uint32_t frame, const uint8_t** pixels);

private:
    bool Convert(const struct AVFrame* frame);
    // Moves to the next frame; converts its picture only when delivering,
    // so that seeking skips pictures at decoding cost alone.
    int32_t Advance(bool deliver);
    // Decodes the next picture into pending_, unless one waits there or the
    // decoder has ended. kAviOk, or kAviNoData for a packet the decoder
    // rejected after a picture was given.
    int32_t DecodePending();
    // The frame a decoded picture stands at: its entry, never before the
    // next frame to give.
    uint32_t PlaceOf(int64_t entry) const;
    void ForgetPosition();
    bool PrepareBuffers();

    CFfmpegStreamInput input_;
    std::string path_;
    SwsContext* scaler_ = nullptr;
    struct AVFrame* frame_ = nullptr;
    struct AVFrame* last_ = nullptr;     // the picture given last
    struct AVFrame* pending_ = nullptr;  // decoded, waiting for its frame
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
    // Frames the last picture is repeated up to once the decoder has ended:
    // the entries the file's index counts, 0 when it has none.
    uint32_t fill_end_ = 0;
    uint32_t next_ = 0;
    uint32_t pending_at_ = 0;
    bool pending_ready_ = false;
    bool decoder_ended_ = false;
    bool have_picture_ = false;
    bool converted_ = false;  // the output holds last_
};
