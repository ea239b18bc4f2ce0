#include "librvx/errors.h"

#include "rvx/rvx.h"

int ErrorOfProblems(const std::vector<RVXProblem>& problems) {
    if (problems.empty()) return RVX_ERROR_DAMAGED;
    switch (problems.front().error) {
    case RVXError::kCannotOpen: return RVX_ERROR_OPEN;
    case RVXError::kReadFailed: return RVX_ERROR_READ;
    case RVXError::kTruncatedHeader:
    case RVXError::kBadMagic: return RVX_ERROR_NOT_RVX;
    default: return RVX_ERROR_DAMAGED;
    }
}

extern "C" RVX_API const char* rvx_error_text(int code) {
    switch (code) {
    case 0: return "no error";
    case RVX_END: return "after the last picture";
    case RVX_ERROR_ARGUMENT: return "a null pointer, a bad size or stride, or a position outside the movie";
    case RVX_ERROR_MEMORY: return "out of memory";
    case RVX_ERROR_OPEN: return "the file is missing, unreadable or not a regular file";
    case RVX_ERROR_READ: return "the movie's bytes could not be read";
    case RVX_ERROR_NOT_RVX: return "not an RVX movie";
    case RVX_ERROR_DAMAGED: return "the movie is damaged";
    case RVX_ERROR_UNSUPPORTED: return "the movie uses a picture format or sound this library cannot decode";
    case RVX_ERROR_NO_SOUND: return "the movie has no sound";
    default: return "unknown error code";
    }
}
