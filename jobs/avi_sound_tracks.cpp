#include "jobs/sound_tracks.h"

std::vector<SoundTrackInfo> AviSoundTracks(const std::string&) { return {}; }
