#include "jobs/encode_from_avi.h"

CEncodeFromAVI::CEncodeFromAVI(IJobHost* owner) : CEncodeRVXFile(owner), page_(owner) {}

CEncodeFromAVI::~CEncodeFromAVI() { Stop(); }

int32_t CEncodeFromAVI::Load() {
    SetFailureReason("AVI files cannot be read by this build yet");
    return kJobFail;
}

int32_t CEncodeFromAVI::Run() { return FailRun("AVI files cannot be read by this build yet"); }
