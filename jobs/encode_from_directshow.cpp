#include "jobs/encode_from_directshow.h"

CEncodeFromDirectShow::CEncodeFromDirectShow(IJobHost* owner) : CEncodeRVXFile(owner), page_(owner) {}

CEncodeFromDirectShow::~CEncodeFromDirectShow() { Stop(); }

int32_t CEncodeFromDirectShow::Load() {
    SetFailureReason("movies cannot be read by this build yet");
    return kJobFail;
}

int32_t CEncodeFromDirectShow::Run() { return FailRun("movies cannot be read by this build yet"); }
