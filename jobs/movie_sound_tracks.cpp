#include "jobs/sound_tracks.h"

std::vector<SoundTrackInfo> MovieSoundTracks(const std::string&) { return {}; }
