#pragma once
// The AVI reader: the file's information, its first video stream decoded to
// 32-bit bottom-up pictures and one of its audio streams (the first unless
// chosen) decoded to PCM, both pulled by the caller one picture or one block
// at a time.

#include <cstdint>
#include <string>

#include "jobs/avi_formats.h"
#include "jobs/avi_sound_reader.h"
#include "jobs/avi_video_reader.h"

class IAVIMovie {
public:
    virtual ~IAVIMovie() = default;
    // Opens the file, its video and its sound; a file without one of them
    // opens. kAviFail when the file is not an AVI file.
    virtual int32_t Open(const std::string& path) = 0;
    // Releases everything; the object can be opened again.
    virtual int32_t Close() = 0;
    virtual int32_t Rewind() = 0;
    // Both streams to that frame's time.
    virtual int32_t SeekToFrame(uint32_t frame) = 0;
    // The next picture as 32-bit bottom-up rows, valid until the next call.
    virtual int32_t ReadVideoFrame(const uint8_t** pixels) = 0;
    // The next block of PCM in the format GetSoundFormat gives.
    virtual int32_t ReadSound(const uint8_t** data, uint32_t* length) = 0;
    virtual const AviFileInfo* GetFileInfo() = 0;
    // The decoded pictures' header: 32 bits, bottom-up, uncompressed.
    virtual int32_t GetVideoFormat(BitmapInfoHeader* header) = 0;
    virtual int32_t GetSoundFormat(WaveFormatEx* format) = 0;
    // The streams' own formats. With a sound buffer the length is its size
    // in bytes on entry; too small gives kAviOutOfMemory and the size needed.
    // The length alone asks for the size (0 without an audio stream).
    virtual int32_t GetSourceFormats(BitmapInfoHeader* video, void* sound, uint32_t* sound_length) = 0;
    virtual int64_t FrameToMs(int64_t frame) = 0;
    virtual int64_t MsToFrame(int64_t ms) = 0;
};

class CAVIMovie : public IAVIMovie {
public:
    // The sound is the file's audio stream numbered `sound_track` (from 0,
    // in the order AviSoundTracks lists them).
    explicit CAVIMovie(unsigned sound_track = 0) : sound_track_(sound_track) {}
    ~CAVIMovie() override;

    int32_t Open(const std::string& path) override;
    int32_t Close() override;
    int32_t Rewind() override;
    int32_t SeekToFrame(uint32_t frame) override;
    int32_t ReadVideoFrame(const uint8_t** pixels) override;
    int32_t ReadSound(const uint8_t** data, uint32_t* length) override;
    const AviFileInfo* GetFileInfo() override { return &info_; }
    int32_t GetVideoFormat(BitmapInfoHeader* header) override;
    int32_t GetSoundFormat(WaveFormatEx* format) override;
    int32_t GetSourceFormats(BitmapInfoHeader* video, void* sound, uint32_t* sound_length) override;
    int64_t FrameToMs(int64_t frame) override;
    int64_t MsToFrame(int64_t ms) override;

    // The video alone to a frame, exactly (see CAviVideoReader::Seek); the
    // sound stays where it is.
    int32_t SeekVideo(uint32_t frame);
    // A picture near a frame, for looking at rather than coding (see
    // CAviVideoReader::ReadNear).
    int32_t ReadVideoNear(uint32_t frame, const uint8_t** pixels);

private:
    unsigned sound_track_ = 0;
    AviFileInfo info_;
    CAviVideoReader video_;
    CAviSoundReader sound_;
};
