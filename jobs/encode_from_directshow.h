#pragma once
// Encoding any movie the media framework plays (path field 1046): a decoding
// pipeline hands its pictures straight to the encoder and its sound, as PCM,
// to "tmpsnd.wav" on its own streaming threads; the job's thread watches the
// pipeline until the end of the movie or a stop.

#include <cstdint>
#include <string>

#include "jobs/encode_job.h"
#include "support/thread.h"

class CEncodeFromDirectShow : public CThread, public CEncodeRVXFile {
public:
    explicit CEncodeFromDirectShow(IJobHost* owner);
    ~CEncodeFromDirectShow() override;

    // On the window's thread before Start: builds the pipeline for the file
    // named in field 1046 and creates the work directory. 0 when ready.
    int32_t Load();
    int32_t Run() override;

private:
    IJobHost* page_;
};
