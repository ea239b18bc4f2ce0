#include "jobs/movie_writer.h"

#include "container/file_write_ops.h"
#include "container/rvx_encode.h"

namespace {

class RVXMovieWriter final : public IMovieWriter {
public:
    void SetFrameRate(uint32_t numerator, uint32_t denominator) override {
        writer_.SetFrameRate(numerator, denominator);
    }
    void SetGopStructure(uint16_t p, uint16_t b) override { writer_.SetGopStructure(p, b); }
    void SetSceneChange(uint16_t value) override { writer_.SetSceneChange(value); }
    void SetQuality(const uint16_t* values) override { writer_.SetQuality(values); }
    void SetPreset(uint8_t preset, bool adaptive_quantisation) override {
        writer_.SetPreset(static_cast<_rvxlib_::RVXPreset>(preset), adaptive_quantisation);
    }
    void SetPicture(uint32_t width, uint32_t height, uint32_t format) override {
        writer_.SetPicture(width, height, format);
    }
    void SetWorkDirectory(const std::string& directory) override { writer_.SetWorkDirectory(directory); }
    void SetFramePrefix(const std::string& prefix) override { writer_.SetFramePrefix(prefix); }
    bool Open() override { return writer_.Open(); }
    bool AddFrame(const void* picture) override { return writer_.AddFrame(picture); }
    bool FinishFrames() override { return writer_.FinishFrames(); }
    bool StageSound(const std::string& wave, uint32_t method, uint32_t block_size) override {
        return writer_.StageSound(wave, method, block_size);
    }
    bool WriteMovie(const std::string& output) override { return writer_.WriteMovie(output, PosixFileWriteOps()); }
    void SetRateControl(std::shared_ptr<_rvxlib_::IRVXRateControl> control) override {
        writer_.SetRateControl(std::move(control));
    }
    std::vector<_rvxlib_::RVXPassFrame> PassFrames() const override { return writer_.PassFrames(); }
    uint32_t Macroblocks() const override { return writer_.Macroblocks(); }
    uint32_t BlocksPerMacroblock() const override { return writer_.BlocksPerMacroblock(); }
    std::string SoundFile() const override { return writer_.SoundFile().string(); }
    void SetSoundFile(const std::string& snx) override { writer_.SetSoundFile(snx); }
    void DiscardFrames() override { writer_.Payloads().RemoveFiles(); }

private:
    CRVXEncode writer_;
};

}  // namespace

std::unique_ptr<IMovieWriter> CreateRVXMovieWriter() { return std::make_unique<RVXMovieWriter>(); }

