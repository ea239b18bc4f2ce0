#pragma once
// One stream of a movie file pulled through its own demuxer and decoder.
// Each stream the AVI reader uses gets its own input, so reading all the
// pictures first and all the sound afterwards never queues the other
// stream's packets: memory stays flat in the length of the movie.

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

class CFfmpegStreamInput {
public:
    enum class Kind { kVideo, kSound };
    enum class DecodeResult {
        kFrame,     // the frame holds a new decoded frame
        kRejected,  // the decoder refused one packet; later packets may decode
        kEnd,       // nothing more will come
    };

    CFfmpegStreamInput() = default;
    ~CFfmpegStreamInput();
    CFfmpegStreamInput(const CFfmpegStreamInput&) = delete;
    CFfmpegStreamInput& operator=(const CFfmpegStreamInput&) = delete;

    // Opens the file with the named demuxer ("avi") and picks the first
    // stream of the kind; every other stream is discarded by the demuxer.
    // kAviOk, kAviNoData when the file has no such stream, kAviFail when the
    // file does not open in that container. A stream without a decoder
    // opens; HasDecoder tells.
    int32_t Open(const std::string& path, const char* container, Kind kind);
    void Close();

    bool IsOpen() const { return format_ != nullptr; }
    bool HasDecoder() const { return codec_ != nullptr; }
    AVFormatContext* Format() const { return format_; }
    AVStream* Stream() const { return stream_; }
    AVCodecContext* Codec() const { return codec_; }

    // The next decoded frame of the stream, in decoding order.
    DecodeResult Decode(AVFrame* frame);
    // Back to the stream's start, or to the last key frame at or before the
    // time (in the stream's time base); the decoder forgets what it held.
    bool SeekTo(int64_t timestamp);

private:
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool draining_ = false;
    int receive_failures_ = 0;
};

// FFmpeg's own log lines stay off the terminal; every failure reaches the user
// through the job's own message.
void QuietFfmpegLog();
