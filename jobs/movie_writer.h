#pragma once
// The container writer as a job drives it. The job holds it through this
// interface so that the job logic does not depend on how the writer is built;
// CreateRVXMovieWriter gives the real one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rvxlib/ratecontrol/rate_plan.h"

class IMovieWriter {
public:
    virtual ~IMovieWriter() = default;

    virtual void SetFrameRate(uint32_t numerator, uint32_t denominator) = 0;
    virtual void SetGopStructure(uint16_t p_frames, uint16_t b_frames) = 0;
    virtual void SetSceneChange(uint16_t value) = 0;
    // I, P, B quality and the matrix selector.
    virtual void SetQuality(const uint16_t* values) = 0;
    // The encoder's preset (RVXPreset) and adaptive quantisation; a writer
    // that makes no coding decisions of its own ignores them.
    virtual void SetPreset(uint8_t /*preset*/, bool /*adaptive_quantisation*/) {}
    virtual void SetPicture(uint32_t width, uint32_t height, uint32_t format) = 0;
    virtual void SetWorkDirectory(const std::string& directory) = 0;
    virtual void SetFramePrefix(const std::string& prefix) = 0;
    virtual bool Open() = 0;
    // Top-down rows of the source layout.
    virtual bool AddFrame(const void* picture) = 0;
    virtual bool FinishFrames() = 0;
    virtual bool StageSound(const std::string& wave, uint32_t method, uint32_t block_size) = 0;
    // True only when the movie was written completely; a failure leaves no
    // partial movie at output.
    virtual bool WriteMovie(const std::string& output) = 0;

    // Two-pass rate control. A writer that cannot take part keeps the
    // defaults: it learns nothing in a first pass and ignores a plan.
    // The rate control of the next Open's frames: a first pass's fixed
    // quantisers or a second pass's plan.
    virtual void SetRateControl(std::shared_ptr<_rvxlib_::IRVXRateControl> /*control*/) {}
    // What the frames cost since Open, in display order (after FinishFrames).
    virtual std::vector<_rvxlib_::RVXPassFrame> PassFrames() const { return {}; }
    // Macroblocks per picture and blocks per macroblock after Open.
    virtual uint32_t Macroblocks() const { return 0; }
    virtual uint32_t BlocksPerMacroblock() const { return 0; }
    // The coded sound file StageSound made (empty without one), and a sound
    // file coded earlier to use instead.
    virtual std::string SoundFile() const { return ""; }
    virtual void SetSoundFile(const std::string& /*snx*/) {}
    // Removes the payload files of the frames coded since Open.
    virtual void DiscardFrames() {}
};

using MovieWriterFactory = std::unique_ptr<IMovieWriter> (*)();

// The RVX container writer writing through the platform's file functions.
std::unique_ptr<IMovieWriter> CreateRVXMovieWriter();
