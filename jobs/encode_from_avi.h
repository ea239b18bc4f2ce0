#pragma once
// Encoding an AVI file, read frame by frame through the AVI reader, with its
// chosen sound stream (the first by default) staged as PCM in "tmpsnd.wav".

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/encode_job.h"
#include "jobs/staged_sound.h"
#include "support/thread.h"

class CAVIMovie;

class CEncodeFromAVI : public CThread, public CEncodeRVXFile {
public:
    // The request's source is the AVI file.
    CEncodeFromAVI(IJobHost* owner, EncodeRequest request);
    ~CEncodeFromAVI() override;

    // On the caller's thread before Start: opens the file with the chosen
    // sound track and creates the work directory. 0 when ready; a sound
    // track the file does not have refuses the settings.
    int32_t Load();
    int32_t Run() override;

    const std::string& WorkDirectory() const { return work_directory_; }
    // Empty when the file has no sound that can be decoded.
    const std::string& StagedSoundPath() const { return staged_path_; }

protected:
    // Pictures spread evenly over the movie, each the one at or shortly
    // after its place, as top-down rows of EncodeFrame's layout and stride.
    std::vector<std::vector<uint8_t>> SamplePictures(uint32_t count) override;

private:
    int32_t EncodeMovie();
    // A target size: the sound, then the pictures twice, once to measure,
    // once to code.
    int32_t EncodeTwoPasses();
    // Every picture of the part asked for through the encoder, from the
    // file's start (a second pass reads it again); false when the job cannot
    // go on (the reason is set).
    bool EncodeFrames();
    // The sound through "tmpsnd.wav" into the encoder; false on a read or
    // write failure or a stop.
    bool EncodeStagedSound();

    std::unique_ptr<CAVIMovie> movie_;
    std::unique_ptr<CStagedSoundFile> staged_;
    std::string avi_path_;
    std::string work_directory_;
    std::string staged_path_;
};

// Unsigned 8-bit samples as signed 16-bit little-endian ones (128 -> 0).
void WidenUnsigned8(const uint8_t* samples, size_t count, std::vector<uint8_t>& out);

// A reader status as a person reads it ("no decoder for the video stream").
std::string AviStatusText(int32_t status);
