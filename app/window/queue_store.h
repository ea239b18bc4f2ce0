#pragma once
// The queue as a JSON file, so that it survives closing the window. A row
// that was running when the window went is waiting again when it returns.

#include <QString>
#include <vector>

#include "app/queue_entry.h"

// False when the file could not be written completely (the old one stays).
bool SaveQueue(const QString& path, const std::vector<QueueEntry>& entries);
// The rows of the file; none for a missing or unreadable file, and a row
// without a usable page, source or output is left out.
std::vector<QueueEntry> LoadQueue(const QString& path);
