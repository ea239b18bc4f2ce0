#include "rvxlib/group_coder.h"

namespace _rvxlib_ {

CRVXGroupCoder::CRVXGroupCoder() = default;
CRVXGroupCoder::~CRVXGroupCoder() = default;

bool CRVXGroupCoder::Open(const RVXCodecSet&, const RVXGroupSettings&, uint32_t) { return false; }
bool CRVXGroupCoder::AddFrame(const uint8_t*) { return false; }
bool CRVXGroupCoder::FinishFrames() { return false; }
bool CRVXGroupCoder::CodeIFrame(uint32_t) { return false; }
bool CRVXGroupCoder::CodePFrame(uint32_t, uint32_t) { return false; }
bool CRVXGroupCoder::CodeBFrame(uint32_t, uint32_t, uint32_t) { return false; }
bool CRVXGroupCoder::CodeGroup(uint32_t, uint32_t) { return false; }
bool CRVXGroupCoder::IsSceneChange(uint32_t) { return true; }
std::string CRVXGroupCoder::FrameFileName(uint32_t n) const {
    return _rvxlib_::FrameFileName(settings_.frame_prefix, n);
}

}  // namespace _rvxlib_
