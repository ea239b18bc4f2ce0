#pragma once
// Message codes between the window, its source pages and the jobs.

#include <cstdint>

enum JobMessage : uint32_t {
    MSG_JOB_STARTED = 0x8124,
    MSG_PAGE_CREATE = 0x8132,
    MSG_PAGE_ABORT = 0x8133,
    MSG_JOB_DONE = 0x8134,
    MSG_JOB_FAILED = 0x8135,
    MSG_PROGRESS = 0x8143,
};
