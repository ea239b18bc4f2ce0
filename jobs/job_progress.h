#pragma once
// A job's progress as a value. The job says where it is; each front end words
// it in its own way (the window's status line, the terminal's bar, JSON lines).

#include <cstdint>
#include <string>

enum class JobStage : uint8_t {
    kLoad,     // opening the source; name is the source
    kFrames,   // coding picture `frame` of `total`; name is the picture's source
    kSound,    // coding the sound; name is the WAVE file being coded
    kWriting,  // writing the movie; name is the output file
};

struct JobProgress {
    JobStage stage = JobStage::kLoad;
    uint32_t frame = 0;  // 1-based, in the frames stage
    uint32_t total = 0;  // pictures the source announced; 0 when it does not say
    std::string name;

    // How far the job is: frame of total while the pictures are coded (0
    // while the total is unknown, beyond 1 when a source delivers more than
    // it announced), 1 once they are through.
    double Fraction() const {
        switch (stage) {
        case JobStage::kLoad:
            return 0.0;
        case JobStage::kFrames:
            return total ? static_cast<double>(frame) / total : 0.0;
        case JobStage::kSound:
        case JobStage::kWriting:
            break;
        }
        return 1.0;
    }

    friend bool operator==(const JobProgress&, const JobProgress&) = default;
};
