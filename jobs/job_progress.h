#pragma once
// A job's progress as a value. The job says where it is; each front end words
// it in its own way (the window's status line, the terminal's bar, JSON lines).

#include <algorithm>
#include <cstdint>
#include <string>

enum class JobStage : uint8_t {
    kLoad,     // opening the source; name is the source
    kFrames,   // coding picture `frame` of `total`; name is the picture's source
    kSound,    // coding the sound; name is the WAVE file being coded
    kWriting,  // writing the movie; name is the output file
};

// The first pass of a two-pass job analyses cheaply; its share of the whole
// job's progress.
inline constexpr double kFirstPassShare = 1.0 / 3.0;

struct JobProgress {
    JobStage stage = JobStage::kLoad;
    uint32_t frame = 0;  // 1-based, in the frames stage
    uint32_t total = 0;  // pictures the source announced; 0 when it does not say
    std::string name;
    // 0 for a job of one pass; 1 or 2 in a job coded to a target size.
    uint8_t pass = 0;

    // How far the job is: frame of total while the pictures are coded (0
    // while the total is unknown, beyond 1 when a source delivers more than
    // it announced), 1 once they are through. Two passes share the way, so
    // the fraction never falls from one to the next; the sound of a first
    // pass stands where the pictures of that pass stand.
    double Fraction() const {
        double done = 1.0;
        switch (stage) {
        case JobStage::kLoad:
            done = 0.0;
            break;
        case JobStage::kFrames:
            done = total ? static_cast<double>(frame) / total : 0.0;
            break;
        case JobStage::kSound:
            if (pass == 1) done = total ? static_cast<double>(frame) / total : 0.0;
            break;
        case JobStage::kWriting:
            break;
        }
        if (pass == 1) return kFirstPassShare * std::min(done, 1.0);
        if (pass == 2) return kFirstPassShare + (1.0 - kFirstPassShare) * done;
        return done;
    }

    friend bool operator==(const JobProgress&, const JobProgress&) = default;
};
