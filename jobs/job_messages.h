#pragma once
// A job's last word to its host.

#include <cstdint>

enum JobMessage : uint32_t {
    MSG_JOB_DONE = 0x8134,
    MSG_JOB_FAILED = 0x8135,
};
