#pragma once
// The private directory of a job's intermediate files: "rvx" followed by an
// eight-digit hexadecimal number, under $TMPDIR (or /tmp).
//
// A process keeps its number for life, so jobs run one after the other reuse
// the same name. The number mixes the process id into the start-up tick, and
// a directory is only taken if this process created it, so encoders started
// in the same millisecond never share one; jobs of one process that run at the
// same time get distinct directories as well.

#include <cstdint>
#include <string>

// Creates (or reuses) a work directory; path receives it with a trailing '/'.
// False when no directory could be made.
bool CreateWorkDirectory(std::string& path);

// Deletes every file directly inside the directory, then the directory; a
// subdirectory left inside keeps the directory. Never reports anything.
void RemoveWorkDirectory(const std::string& path);

// The directory number for a start-up tick (milliseconds) and a process id;
// never 0.
uint32_t WorkDirectoryNumber(uint64_t tick_ms, uint32_t process_id);

// The temporary-files directory, ending with '/'.
std::string TemporaryFilesDirectory();
