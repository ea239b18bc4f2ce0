#include "support/allocation_failure.h"

namespace {

thread_local bool t_allocation_failed = false;

}  // namespace

void NoteAllocationFailure() { t_allocation_failed = true; }

bool TakeAllocationFailure() {
    const bool failed = t_allocation_failed;
    t_allocation_failed = false;
    return failed;
}
