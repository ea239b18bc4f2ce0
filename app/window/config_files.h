#pragma once
// What the window remembers between runs lives in the user's configuration
// folder (QStandardPaths::AppConfigLocation): the queue of jobs and the
// folder each kind of file dialog used last. The option controls are not
// remembered; they start from their defaults every time.

#include <QString>

// The file `name` in the configuration folder, which is created when
// missing; empty when there is no such folder.
QString ConfigFilePath(const char* name);
