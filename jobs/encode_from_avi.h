#pragma once
// Encoding an AVI file (path field 1041), read frame by frame through the AVI
// reader, with its first sound stream staged as PCM in "tmpsnd.wav".

#include <cstdint>
#include <string>

#include "jobs/encode_job.h"
#include "support/thread.h"

class CEncodeFromAVI : public CThread, public CEncodeRVXFile {
public:
    explicit CEncodeFromAVI(IJobHost* owner);
    ~CEncodeFromAVI() override;

    // On the window's thread before Start: opens the file named in field
    // 1041 and creates the work directory. 0 when ready.
    int32_t Load();
    int32_t Run() override;

private:
    IJobHost* page_;
};
