#pragma once
// One stream of a movie file pulled through its own demuxer and decoder.
// Each stream the AVI reader uses gets its own input, so reading all the
// pictures first and all the sound afterwards never queues the other
// stream's packets: memory stays flat in the length of the movie.

#include <cstdint>
#include <deque>
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

    // Opens the file with the named demuxer ("avi") and picks the stream of
    // the kind numbered `which` (from 0, in file order); every other stream
    // is discarded by the demuxer. kAviOk, kAviNoData when the file has no
    // such stream, kAviFail when the file does not open in that container.
    // A stream without a decoder opens; HasDecoder tells.
    int32_t Open(const std::string& path, const char* container, Kind kind, unsigned which = 0);
    void Close();

    bool IsOpen() const { return format_ != nullptr; }
    bool HasDecoder() const { return codec_ != nullptr; }
    AVFormatContext* Format() const { return format_; }
    AVStream* Stream() const { return stream_; }
    AVCodecContext* Codec() const { return codec_; }

    // The next decoded frame of the stream, in decoding order.
    DecodeResult Decode(AVFrame* frame);
    // Where the frame Decode gave last stands in the stream, in units of
    // the stream's time base from its start; -1 when the packets carried no
    // time. Frames come out in display order but packets go in in decoding
    // order, and the n-th frame out takes the n-th packet's decoding time:
    // a reordering decoder's own frame times run late by its delay, while
    // the packets' times count every entry of the file, empty ones too.
    int64_t FrameTime() const { return frame_time_; }
    // Back to the stream's start, or to the last key frame at or before the
    // time (in the stream's time base); the decoder forgets what it held.
    bool SeekTo(int64_t timestamp);

private:
    static constexpr size_t kMaxPendingTimes = 64;
    int64_t TakePendingTime();

    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    bool draining_ = false;
    int receive_failures_ = 0;
    // The decoding times of packets sent whose frames have not come out.
    std::deque<int64_t> pending_times_;
    int64_t frame_time_ = -1;
};

// FFmpeg's own log lines stay off the terminal; every failure reaches the user
// through the job's own message.
void QuietFfmpegLog();
