#pragma once
// The interface's error codes for what the reader found.

#include "container/rvx_reader.h"

// The code for the first problem an unsuccessful Open or Verify reported.
int ErrorOfProblems(const std::vector<RVXProblem>& problems);
