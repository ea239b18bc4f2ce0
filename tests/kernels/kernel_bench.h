#pragma once

// Times every kernel at every level and prints a table; returns the exit code.
int RunKernelBench();
