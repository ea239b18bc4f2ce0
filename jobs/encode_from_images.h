#pragma once
// Encoding a numbered run of image files (a0001.png, a0002.png, ...) with an
// optional WAVE file for the sound.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jobs/encode_job.h"
#include "jobs/image_loaders.h"
#include "jobs/image_sequence.h"
#include "support/thread.h"

class CEncodeFromSeqFile : public CThread, public CEncodeRVXFile {
public:
    // The request's source is the chosen image of the run; its WAVE file,
    // when it is one, becomes the movie's sound.
    CEncodeFromSeqFile(IJobHost* owner, EncodeRequest request);
    ~CEncodeFromSeqFile() override;

    // On the caller's thread before Start: finds the run, checks the WAVE
    // file and creates the work directory. 0 when ready.
    int32_t Load();
    // Fills the name pattern, the first and end numbers, and loads the chosen
    // image to learn the picture's size and format.
    bool DiscoverSequence(const std::string& path);
    int32_t Run() override;

    const std::string& NamePattern() const { return sequence_.pattern; }
    uint32_t FirstNumber() const { return sequence_.first; }
    uint32_t EndNumber() const { return end_; }
    const std::string& SoundPath() const { return sound_path_; }
    const std::string& WorkDirectory() const { return work_directory_; }
    uint32_t PictureWidth() const { return picture_width_; }
    uint32_t PictureHeight() const { return picture_height_; }

private:
    // The slot and its picture are the loaders' own (image_loaders.h).
    using ImageSlot = ::ImageSlot;
    using LoadedFrame = ::LoadedFrame;

    // Loads the named image into a slot and gives the pixels the encoder
    // takes; null pixels and the reason when the image is unusable. Touches
    // nothing outside the slot, so it may run beside the encoder.
    LoadedFrame LoadFrame(ImageSlot& slot, const std::string& name) const;
    // The same for a picture already decoded into the slot.
    LoadedFrame TakeDecoded(ImageSlot& slot, const std::string& name) const;
    // True, once, when n is the first picture and the load step's decoding
    // of it is still in slot 0, so it need not be decoded again.
    bool TakeFirstDecoded(uint64_t n);
    // The numbers of the images the request keeps: from the chosen image
    // plus the kept part's first frame to the end of the part or the run.
    uint64_t FirstKeptNumber() const;
    uint64_t EndKeptNumber() const;
    // Images spread evenly over the kept part, as the encoder takes them.
    std::vector<std::vector<uint8_t>> SamplePictures(uint32_t count) override;
    int32_t LoadSteps();
    int32_t EncodeSequence();
    // A target size: the run is read twice, once to measure, once to code.
    int32_t EncodeTwoPasses();
    void EncodeAllImages(bool& failed);
    static void Release(ImageSlot& slot);
    bool MakeSlot(ImageSlot& slot) const;

    // How many images may wait decoded ahead of the encoder: enough to
    // cover a group of frames, bounded in bytes for large pictures.
    std::size_t LookaheadSlots() const;
    // Codes picture n loaded into slot and releases the slot's picture;
    // false when the picture was unusable (its reason is set) or coding
    // failed.
    bool EncodeLoaded(uint64_t n, const LoadedFrame& frame, ImageSlot& slot);
    void EncodeImages(bool& failed);
    // The same with the images decoded ahead on loader threads.
    void EncodeImagesAhead(bool& failed);

    std::vector<ImageSlot> slots_;  // slots_[0] also learns the run in DiscoverSequence
    SequenceName sequence_;
    std::string work_directory_;
    std::string sound_path_;
    uint32_t end_ = 0;
    bool first_decoded_ = false;
    uint32_t picture_width_ = 0;
    uint32_t picture_height_ = 0;
    uint32_t picture_format_ = 0;
};

// True when the file starts like a WAVE file ("RIFF", size, "WAVE" in its
// first 44 bytes).
bool IsWaveFile(const std::string& path);

// Writes a grey picture (one byte per pixel) as 32-bit pixels with the grey
// level in blue, green, red and alpha alike.
void ExpandGreyRows(const uint8_t* grey, int32_t grey_pitch, uint8_t* out, int32_t out_pitch, int32_t width,
                    int32_t height);
