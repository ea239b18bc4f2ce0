#pragma once
// "tmpsnd.wav": decoded PCM sound collected in the work directory while a
// source delivers it, completed into a WAVE file that the sound encoder reads.

#include <cstdint>
#include <cstdio>
#include <string>

#include "snxlib/wave_writer.h"

constexpr const char* kStagedSoundName = "tmpsnd.wav";

// The wave format as the source describes its sound.
using PcmFormat = _snxlib_::WavePcmFormat;

class CStagedSoundFile {
public:
    CStagedSoundFile() = default;
    ~CStagedSoundFile();
    CStagedSoundFile(const CStagedSoundFile&) = delete;
    CStagedSoundFile& operator=(const CStagedSoundFile&) = delete;

    // Creates the file anew (an older one is replaced).
    bool Create(const std::string& path);
    // Header with both sizes 0, before the first block.
    bool WriteHeader(const PcmFormat& format);
    // False once the data would no longer fit a WAVE file's 32-bit sizes or
    // the disk refuses it; the file is then unusable.
    bool Append(const void* data, size_t length);
    // Writes the final sizes and closes the file.
    bool Complete();
    void Close();

    const std::string& Path() const { return path_; }
    uint64_t DataLength() const { return data_length_; }

private:
    bool WriteHeaderWithSize(uint32_t data_length);

    std::FILE* file_ = nullptr;
    std::string path_;
    PcmFormat format_;
    uint64_t data_length_ = 0;
    bool failed_ = false;
};
