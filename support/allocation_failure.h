#pragma once
// Large buffers (bitmaps, surfaces, whole image files) are allocated without
// exceptions and their owners report failure as a status. A failed
// allocation also leaves a note on its thread, so that whoever reports the
// status can say the cause was memory rather than a damaged file.

// Called where a no-throw allocation came back empty.
void NoteAllocationFailure();
// True when an allocation failed on this thread since the last call; clears
// the note.
bool TakeAllocationFailure();
