#pragma once
// A movie writer for the job tests that keeps the real writer's habits: one
// file per frame in the work directory, the movie written under another name
// and renamed into place. The movie lists every frame's size and checksum, so
// a test can tell exactly which pixels reached the writer.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jobs/movie_writer.h"

struct RecordingWriterSettings {
    static inline std::atomic<int> frame_delay_ms{0};
    static inline std::atomic<int> fail_at_frame{-1};
};

class RecordingWriter : public IMovieWriter {
public:
    static std::unique_ptr<IMovieWriter> Create() { return std::make_unique<RecordingWriter>(); }

    void SetFrameRate(uint32_t n, uint32_t d) override { rate_ = std::to_string(n) + "/" + std::to_string(d); }
    void SetGopStructure(uint16_t, uint16_t) override {}
    void SetSceneChange(uint16_t) override {}
    void SetQuality(const uint16_t*) override {}
    void SetPicture(uint32_t w, uint32_t h, uint32_t format) override {
        width_ = w;
        height_ = h;
        format_ = format;
    }
    void SetWorkDirectory(const std::string& d) override { work_ = d; }
    void SetFramePrefix(const std::string& p) override { prefix_ = p; }
    bool Open() override { return width_ && height_ && std::filesystem::is_directory(work_); }
    bool AddFrame(const void* picture) override {
        if (RecordingWriterSettings::fail_at_frame == static_cast<int>(frames_.size())) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(RecordingWriterSettings::frame_delay_ms.load()));
        const uint8_t* p = static_cast<const uint8_t*>(picture);
        const size_t pixel_bytes = (format_ >> 28) == 1 ? 3 : 4;
        const size_t bytes = ((width_ * pixel_bytes + 3) & ~size_t{3}) * height_;
        uint32_t sum = 0;
        for (size_t i = 0; i < bytes; ++i) sum = sum * 31 + p[i];
        char name[32];
        std::snprintf(name, sizeof name, "%06zu.hjx", frames_.size());
        std::ofstream(prefix_ + name, std::ios::binary).write(reinterpret_cast<const char*>(p), 16);
        std::ostringstream line;
        line << "frame " << sum << " " << unsigned(p[0]) << "," << unsigned(p[1]) << "," << unsigned(p[2]) << ","
             << unsigned(p[3]);
        frames_.push_back(line.str());
        return true;
    }
    bool FinishFrames() override { return !frames_.empty(); }
    bool StageSound(const std::string& wave, uint32_t method, uint32_t block) override {
        sound_ = "sound " + std::filesystem::path(wave).filename().string() + " " + std::to_string(method) + " " +
                 std::to_string(block);
        return true;
    }
    bool WriteMovie(const std::string& output) override {
        const std::string temp = output + ".part";
        {
            std::ofstream out(temp);
            out << "picture " << width_ << "x" << height_ << " " << std::hex << format_ << std::dec << "\n";
            out << "rate " << rate_ << "\n";
            for (const auto& f : frames_) out << f << "\n";
            if (!sound_.empty()) out << sound_ << "\n";
            if (!out) return false;
        }
        for (size_t i = 0; i < frames_.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "%06zu.hjx", i);
            std::filesystem::remove(prefix_ + name);
        }
        std::error_code ec;
        std::filesystem::rename(temp, output, ec);
        return !ec;
    }

private:
    uint32_t width_ = 0, height_ = 0, format_ = 0;
    std::string rate_, work_, prefix_, sound_;
    std::vector<std::string> frames_;
};
