#pragma once
// The sound tracks of a source file, in the order `--audio-track` counts
// them, for `rvxenc --info` and for checking a chosen track.

#include <string>
#include <vector>

struct SoundTrackInfo {
    std::string language;     // as the file names it ("jpn", "en"); empty when it names none
    std::string description;  // codec, rate and channels, for a person
};

// An AVI file's audio streams, read through FFmpeg; empty when it has none
// or does not open.
std::vector<SoundTrackInfo> AviSoundTracks(const std::string& path);
// A movie's audio streams as the media framework finds them; empty when it
// has none or does not open.
std::vector<SoundTrackInfo> MovieSoundTracks(const std::string& path);
