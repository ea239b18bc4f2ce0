#pragma once
// A movie's sound streams as the media framework numbers them: by their
// stream ids, the order in which its decoder hands them out, so that track N
// of the listing is the stream the movie job decodes for `--audio-track N`.

#include <string>
#include <vector>

#include "jobs/sound_tracks.h"

struct MovieSoundStream {
    std::string stream_id;
    SoundTrackInfo info;
};

// Empty when the movie has no sound stream or cannot be opened within the
// time; false (with the reason) only when it cannot be examined at all.
bool ListMovieSoundStreams(const std::string& path, std::vector<MovieSoundStream>& streams, std::string& reason);
