#pragma once
// The sound half of the AVI reader: one audio stream, decoded and
// converted block by block to interleaved PCM in the source's channels and
// sample rate.

#include <cstdint>
#include <string>
#include <vector>

#include "jobs/avi_formats.h"
#include "jobs/ffmpeg_stream_input.h"

struct SwrContext;

class CAviSoundReader {
public:
    CAviSoundReader() = default;
    ~CAviSoundReader();
    CAviSoundReader(const CAviSoundReader&) = delete;
    CAviSoundReader& operator=(const CAviSoundReader&) = delete;

    // The audio stream numbered `track` (from 0, in file order). kAviOk,
    // kAviNoData (no such audio stream) or kAviFail (not an AVI file). A
    // stream that cannot be decoded opens; its reads report kAviNoInterface.
    int32_t Open(const std::string& path, unsigned track = 0);
    void Close();

    bool HasStream() const { return input_.IsOpen(); }
    bool CanDecode() const { return input_.HasDecoder() && decoded_.channels != 0; }
    // PCM with the source's channels and rate; bits per sample as the source
    // states them (8, 16, 24 or 32), 16 for codecs that state none. 8-bit
    // samples are unsigned, wider ones signed, as in WAVE files.
    const WaveFormatEx& DecodedFormat() const { return decoded_; }
    // The stream's own wave format followed by its codec setup bytes.
    const std::vector<uint8_t>& SourceFormat() const { return source_; }

    // The next block of PCM; valid until the next call. kAviEndOfStream after
    // the last block. Packets the decoder rejects are left out.
    int32_t Read(const uint8_t** data, uint32_t* length);
    // The next Read starts at that time (milliseconds from the start).
    int32_t SeekToMs(int64_t ms);

private:
    bool Configure(const struct AVFrame* frame);
    // Converts the frame (or, for null, what the converter still holds) into
    // the output; the number of bytes, -1 on failure.
    int64_t Convert(const struct AVFrame* frame);

    CFfmpegStreamInput input_;
    std::string path_;
    SwrContext* converter_ = nullptr;
    struct AVFrame* frame_ = nullptr;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> source_;
    WaveFormatEx decoded_;
    int converter_format_ = -1;  // the input the converter was set up for
    int converter_rate_ = 0;
    int converter_channels_ = 0;
    int64_t skip_to_sample_ = 0;  // after a seek: the first sample wanted
    bool ended_ = false;
};
